#pragma once
// One logging run without a window: the meter's frames come over the chosen link, are
// assembled and decoded as in the window, offered to the recording rule, and each recorded
// row goes to the reading table and to the CSV file alike.
#include "link/LinkWatch.h"
#include "meter/core/FrameDecoder.h"
#include "panel/FcommState.h"
#include "record/RecordingRule.h"
#include "tools/log/LogOptions.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace rd780 {
class CaptureWriter;
class CsvAppender;
class RowOutput;
class SerialReplay;
class ReadingTable;
class SerialChunker;
class TSerialPortDriver;
class THidDevice;
class THidDeviceController;
class UsbCable;
class HidServices;
} // namespace rd780

namespace rd780::log {

class LogSession : public QObject {
    Q_OBJECT
public:
    // ended(code, reason) runs once when the run must end: 0 when done (limit reached),
    // 1 on a link or file error with its reason, TableRefused when the table is full.
    LogSession(const LogOptions& options, std::function<void(int, const std::string&)> ended);
    ~LogSession() override;

    // Exit status for a table that can take no rows (full, or in use by another program):
    // a restart cannot mend it.
    static constexpr int TableRefused = 3;

    // Opens the files and the link. Returns false with the reason when one cannot be;
    // startFailure() then gives the exit status.
    bool start(std::string& error);
    int startFailure() const { return startFailure_; }
    // The first half of start: the table, the CSV and the recording timers.
    bool openFiles(std::string& error);
    // Stops the link and makes every recorded row durable in both files. Returns false with
    // the reason when that fails.
    bool finish(std::string& error);

    // Every recorded row also goes to output (not owned), after the table and the CSV.
    void addOutput(RowOutput* output) { outputs_.push_back(output); }

    // Asked when a write is interrupted by a signal: true gives the write up, so a signal
    // ends a run blocked on its output.
    void setStopRequested(std::function<bool()> stop) { stopRequested_ = std::move(stop); }

    // One whole frame text, as the link's assembly hands it over.
    void frame(const std::string& frameHex);

    std::uint64_t frames() const { return frames_; }
    std::uint64_t rows() const { return rows_; }
    std::uint64_t errors() const { return errors_; }
    // The link's health, by the watch and threshold the window's lamp uses.
    const LinkWatch& health() const { return health_; }
    std::string summary() const;

private:
    class RowSink;
    class Decoding;
    bool openUsb(std::string& error);
    bool openSerial(std::string& error);
    bool openReplay(std::string& error);
    bool openCapture(std::string& error);
    void serialData(void* sender, const std::uint8_t* data, int size);
    void poll();
    UsbCable usbCable(); // the cable rule over this run's link state
    void linkTick();
    void fail(const std::string& reason);
    void flushFiles();

    LogOptions options_;
    std::function<void(int, const std::string&)> ended_;
    bool over_ = false;
    int startFailure_ = 1;
    FcommState state_;
    ScaleSettings scale_;
    std::unique_ptr<RecordingRule> rule_;
    std::unique_ptr<ReadingTable> table_;
    std::unique_ptr<CsvAppender> csv_;
    std::function<bool()> stopRequested_;
    std::unique_ptr<RowSink> sink_;
    std::vector<RowOutput*> outputs_;
    std::unique_ptr<CaptureWriter> capture_;
    std::unique_ptr<SerialReplay> serialReplay_;

    std::shared_ptr<HidServices> hidServices_;
    THidDeviceController* hid_ = nullptr;
    THidDevice* cable_ = nullptr;
    TSerialPortDriver* serial_ = nullptr;
    std::unique_ptr<SerialChunker> chunker_;

    LinkWatch health_;
    QTimer flushTimer_;
    QTimer recordTimer_;
    QTimer linkTimer_;
    std::uint64_t frames_ = 0, rows_ = 0, errors_ = 0;
};

} // namespace rd780::log
