#pragma once
// One meter session without widgets: the chosen link (the USB cable, a serial port, or a
// capture played back), the assembly of its bytes into frames, the decoding, the recording
// rule with its own counters, and the sinks a recorded row goes to (the reading table, the
// CSV, further outputs such as JSON lines or a message bus), with a tap that captures what
// the link delivered. It announces what happens by signal; whoever drives it (the headless
// logger, a test) decides what to show. Options where its users differ are explicit below.
#include "link/LinkWatch.h"
#include "link/hid/UsbCable.h"
#include "meter/core/FrameDecoder.h"
#include "record/ReadingTable.h"
#include "record/RecordingRule.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rd780 {

class CaptureWriter;
class CsvAppender;
class HidServices;
class RowOutput;
class SerialChunker;
class SerialReplay;
class THidDevice;
class THidDeviceController;
class TSerialPortDriver;
struct Capture;
struct CaptureRecord;

struct SessionOptions {
    using Link = LinkKind;
    Link link = Link::None;
    std::shared_ptr<HidServices> hid; // Usb: where the cable is found; null: hidraw
    std::string usbDevice;            // Usb: a hidraw path; empty: the cable UsbCable picks
    std::string serialDevice;         // Serial: the device node, read at 2400 baud
    // A capture file played back instead of the link (its header names the link); empty: none.
    std::string replay;
    double speed = 1; // of the replay: faster (above 1) or slower than recorded

    std::string capture;  // where what the link delivers is captured; empty: nowhere
    std::string linkName; // the capture's name for the link; empty: its device

    std::string table; // reading table to open or create; empty: none
    std::string csv;   // CSV file rows are added to; "-": standard output; empty: none

    int limit = 0;           // rows to record; 0: no limit
    int intervalSeconds = 0; // 0: every reading
    bool skipRepeats = false;

    // What a read error of the link does: counted and told (the run goes on), or the end.
    enum class ReadError { Count, End };
    ReadError readError = ReadError::Count;
    // Where the session's messages go (read errors); empty: nowhere.
    std::function<void(const std::string&)> message;
    // Whether reaching the limit ends the run (the logger) or only stops recording.
    bool endAtLimit = true;
    // The limit's gate: exactly `limit` rows (the logger) or one past it (the window's).
    RecordingRule::LimitGate limitGate = RecordingRule::LimitGate::StopAtLimit;
    // The link watch's clock; empty: the steady clock.
    std::function<LinkWatch::Clock::time_point()> linkClock;

    // What a row that cannot be recorded (refused by the table, a full table, a failed
    // flush or capture) does: the end of the run (the logger), or it is told by signal and
    // the readings go on (the window, whose user can choose New or another table).
    enum class RecordError { End, Tell };
    RecordError recordError = RecordError::End;
    // With no table open, readings wait for one (the window) rather than go to the other
    // sinks alone (the logger writing only a CSV).
    bool waitForTable = false;
    // The caller opens the links and hands in what they read (the window, whose panels
    // choose the device and connect): start opens the sinks and reads the replay, but opens
    // no link and plays nothing; the capture is made at the first delivery, for its link.
    bool driven = false;
    // The time of day in milliseconds a row gets; empty: the clock's.
    std::function<std::int32_t()> timeOfDay;
    // The table it opens syncs on a thread of the table's (a window never waits for the
    // disk), or else on the session's own: the logger has no window to keep answering, and
    // a run ended by a signal then has no sync in flight to wait for within its second.
    bool backgroundSync = true;
};

// Who shows a decode step by step (the window's LCD, bar graph, pointer and waveform):
// each step as the decoder makes it, then the end of the frame.
class DecodeView : public DecodeSink {
public:
    // The frame is done: whole, or stopped at a step by `error`. The reading holds what the
    // steps before set.
    virtual void frameEnded(const Reading& reading, const std::string* error) = 0;
};

class MeterSession : public QObject {
    Q_OBJECT
public:
    static constexpr int FlushIntervalMs = 200; // rows are made durable this often
    static constexpr int RecordTickMs = 1000;   // the sampling interval's clock
    // The end status for a table that can take no rows (full, or in use by another
    // program): running again cannot mend it.
    static constexpr int TableRefused = 3;

    explicit MeterSession(SessionOptions options, QObject* parent = nullptr);
    ~MeterSession() override;

    // Every recorded row also goes to output, after the table and the CSV hold it. Before
    // start.
    void addOutput(std::shared_ptr<RowOutput> output);
    // Asked when a write is interrupted by a signal: true gives the write up, so a signal
    // ends a run blocked on its output. Before start.
    void setStopRequested(std::function<bool()> stop);

    // Opens the sinks, the capture, then the link. False with the reason when one cannot
    // be; startFailure() then gives the end status.
    bool start(std::string& error);
    int startFailure() const { return startFailure_; }
    // The sinks alone (for frames handed in through frame()).
    bool openSinks(std::string& error);
    // Stops the link and makes every recorded row durable in every sink. False with the
    // reason on failure.
    bool finish(std::string& error);

    // One whole frame text, as a link's assembly hands it over. False when it did not
    // decode whole.
    bool frame(const std::string& frameHex);

    // Offers a reading to the recording rule and the sinks, as a decoded frame does, and
    // announces the outcome. Empty when it waits for a table or, told, was refused.
    std::optional<RecordingRule::Outcome> record(const Reading& reading);
    // One second of the recording's clock (the sampling interval's countdown).
    void tickRecording();

    // For a driver that opens the link itself and hands in what it reads (the window, whose
    // panels choose the device): the capture tap, the assembly, then `seen` (the report's
    // listing comes before what its frame brings), then frame().
    HidReportOutcome usbReport(std::uint8_t reportId, const std::uint8_t* data, std::size_t size,
                               const std::function<void(const HidReportOutcome&)>& seen = {});
    // A new USB connection: the cable's counts and assembly start afresh.
    void usbRestart();
    // The cable's idle counts: reports without meter bytes, reports since the last poll,
    // link ticks since the last frame.
    struct UsbCounts {
        int& idleReports;
        int& pollReports;
        int& idleTicks;
    };
    UsbCounts usbCounts() { return {idleReports_, pollReports_, idleTicks_}; }
    // The link timer's tick: the health, then the cable's idle rule over `device`.
    UsbCable::TickResult usbTick(THidDevice* device);
    // Bytes of a serial read; a tick of the port without bytes; a purge or reconnect.
    void serialBytes(const std::uint8_t* data, std::size_t size);
    void serialIdle();
    void serialClear();
    // Plays a serial capture read at start (replayLink() == Serial) into serialBytes;
    // `finished` runs after its last read. Stops any replay playing.
    void playSerialReplay(std::function<void()> finished);
    void stopSerialReplay();
    // The link the replay read at start was captured on; None without a replay.
    LinkKind replayLink() const;
    // The reports of a USB capture read at start, for a cable that gives them back.
    std::shared_ptr<const std::vector<CaptureRecord>> usbReplay() const;

    void setDecodeView(DecodeView* view) { view_ = view; }
    // The scale the decoder places the pointer and the bar on.
    void setScale(const ScaleSettings& scale) { scale_ = scale; }
    // Ticks the health by hand (a driver with its own link timer); announces a change.
    void tickHealth() { tellHealth(health_.tick()); }
    // The table rows go to (open or not), the rule and its counters.
    ReadingTable& table() { return table_; }
    RecordingRule& rule() { return rule_; }
    const Reading& reading() const { return reading_; }

    std::uint64_t frames() const { return frames_; }
    std::uint64_t rows() const { return rows_; }
    std::uint64_t errors() const { return errors_; }
    bool over() const { return over_; }
    // The link's health, which the window's lamp and status bar show.
    const LinkWatch& health() const { return health_; }
    LinkWatch& health() { return health_; }
    // The counts of the run: "12 frames, 10 rows, 0 errors" and what each output adds.
    std::string summary() const;

signals:
    void frameAssembled(const std::string& frameHex);
    void readingDecoded(const rd780::Reading& reading);
    // What the recording rule did with the reading (recorded, waiting, repeat, limit...).
    void recordingChanged(rd780::RecordingRule::Outcome outcome);
    // The link's idle rule ran without a frame since its last run: the link is quiet.
    void linkIdle();
    // The link turned stalled (no frame for LinkWatch::StallAfter), live again, or its
    // cable went away.
    void linkHealthChanged(rd780::LinkWatch::State state);
    // With RecordError::Tell: a reading could not be recorded (each time), or rows could not
    // be made durable or captured (once until they can again).
    void recordingFailed(const std::string& reason);
    void sinkFailed(const std::string& reason);
    // The recording rule's clock ticked (the sampling interval's countdown moved).
    void recordingTicked();
    // The run is over: 0 when done (limit reached, replay played), 1 on a link or file error
    // with its reason, TableRefused when the table is full.
    void ended(int code, const std::string& reason);

private:
    class Sinks;
    class Decoding;
    bool openTable(std::string& error);
    bool openUsb(std::string& error);
    bool openSerial(std::string& error);
    bool openReplay(std::string& error);
    bool openCapture(std::string& error);
    bool openCaptureFor(LinkKind link, std::string& error);
    bool capturing(LinkKind link);
    void sinkTrouble(const std::string& reason);
    void serialData(void* sender, const std::uint8_t* data, int size);
    void chunkerOnFrames();
    void linkTick();
    void tellHealth(bool changed);
    void end(int code, const std::string& reason);
    void fail(const std::string& reason) { end(1, reason); }
    void flush();

    SessionOptions options_;
    bool over_ = false;
    bool finished_ = false;
    int startFailure_ = 1;
    ScaleSettings scale_;
    int recordNo_ = 1;
    int recordLimit_;
    RecordingRule rule_;
    ReadingTable table_;
    Reading reading_;
    float value_ = 0.0f; // the decoder's value, before it is the reading's
    DecodeView* view_ = nullptr;
    std::string lastSinkTrouble_;
    bool captureFailed_ = false;
    std::unique_ptr<CsvAppender> csv_;
    std::function<bool()> stopRequested_;
    std::vector<std::shared_ptr<RowOutput>> outputs_;
    std::unique_ptr<Sinks> sinks_;
    std::unique_ptr<CaptureWriter> capture_;
    std::shared_ptr<Capture> replay_;
    std::unique_ptr<SerialReplay> serialReplay_;

    // The link's assembly state.
    std::string frameHex_, reportChunk_;
    bool chunkPending_ = false;
    int idleReports_ = 0, pollReports_ = 0, idleTicks_ = 0;
    UsbCable cable_;
    THidDeviceController* hid_ = nullptr;
    THidDevice* device_ = nullptr;
    TSerialPortDriver* serial_ = nullptr;
    std::unique_ptr<SerialChunker> chunker_;

    LinkWatch health_;
    QTimer flushTimer_, recordTimer_, linkTimer_;
    std::uint64_t frames_ = 0, rows_ = 0, errors_ = 0;
};

} // namespace rd780
