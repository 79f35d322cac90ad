#include "tools/log/LogSession.h"

#include "link/capture/CaptureFile.h"
#include "link/hid/HidControllerClass.h"
#include "link/hid/SimulatedHidServices.h"
#include "link/hid/UsbCable.h"
#include "link/serial/SerialPortDriver.h"
#include "link/serial/SerialReplay.h"
#include "meter/core/FrameAssembler.h"
#include "meter/core/SerialChunker.h"
#include "record/CsvAppender.h"
#include "record/CsvExport.h"
#include "record/ReadingTable.h"
#include "record/RowOutput.h"
#include "record/paradox/ParadoxTable.h"

#include <climits>
#include <ctime>
#include <unistd.h>

namespace rd780::log {

namespace {

constexpr int FlushIntervalMs = 200; // as the window makes its rows durable

struct Stamp {
    CivilDate date;
    int32_t timeMs = 0;
};

Stamp now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    return {{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday},
            ((tm.tm_hour * 60 + tm.tm_min) * 60 + tm.tm_sec) * 1000 +
                static_cast<int32_t>(ts.tv_nsec / 1000000)};
}

} // namespace

// Every row the rule appends goes to the CSV and to the table, with one time stamp. The CSV
// line is written first and taken back if the table refuses the row, so after any failure
// both files hold the same rows; the other outputs hear of a row once both files hold it.
class LogSession::RowSink : public ReadingSink {
public:
    RowSink(ReadingTable* table, CsvAppender* csv, const LogOptions& o,
            const std::vector<RowOutput*>& outputs)
        : table_(table), csv_(csv), options_(o), outputs_(outputs) {}
    Stamp stamp;

    void appendReading(const ReadingRow& row) override {
        const CsvReading reading{stamp.date, row.TimeMs, std::to_string(row.No),
                                 row.Value,  row.Unit,   row.Coupling,
                                 row.Auto};
        if (csv_ && !csv_->append(csvLine(reading)))
            throw std::runtime_error("CSV " + options_.csv + ": " + csv_->error());
        if (table_) {
            try {
                table_->appendReading(row);
            } catch (...) {
                if (csv_) csvAhead_ = !csv_->dropLast();
                throw;
            }
        }
        for (RowOutput* output : outputs_)
            output->put(reading);
        ++count_;
    }
    int64_t rowCount() const override { return table_ ? table_->rowCount() : count_; }
    void emptyTable() override {}
    bool isFull() const override { return table_ && table_->isFull(); }
    // True when the CSV holds a row the table refused (standard output cannot take it back).
    bool csvAhead() const { return csvAhead_; }

private:
    ReadingTable* table_;
    CsvAppender* csv_;
    const LogOptions& options_;
    const std::vector<RowOutput*>& outputs_;
    int64_t count_ = 0;
    bool csvAhead_ = false;
};

// The decoder's step that offers the reading to the recording rule.
class LogSession::Decoding : public DecodeSink {
public:
    Decoding(LogSession& s) : s_(s) {}
    void showConnection() override {
        s_.state_.LinkIdleTicks = 0;
        s_.health_.frame();
    }
    void offerForRecording() override {
        const FcommState& st = s_.state_;
        const Reading reading{st.ReadingText, st.ReadingValue, st.ReadingUnit, st.ReadingCoupling,
                              st.ReadingAuto};
        s_.sink_->stamp = now();
        outcome = s_.rule_->offer(reading, s_.sink_->stamp.timeMs, *s_.sink_);
        offered = true;
    }
    RecordingRule::Outcome outcome = RecordingRule::Outcome::Waiting;
    bool offered = false;

private:
    LogSession& s_;
};

LogSession::LogSession(const LogOptions& options,
                       std::function<void(int, const std::string&)> ended)
    : options_(options), ended_(std::move(ended)) {
    state_.RecordNo = 1;
    state_.RecordLimit = options_.limit > 0 ? options_.limit : INT_MAX;
    state_.OverloadValue = scale_.OverloadValue;
    rule_ = std::make_unique<RecordingRule>(state_.RecordNo, state_.RecordLimit);
    rule_->IntervalOn = options_.intervalSeconds > 0;
    rule_->IntervalText = std::to_string(options_.intervalSeconds);
    rule_->RepeatOn = options_.skipRepeats;
}

LogSession::~LogSession() {
    std::string ignored;
    finish(ignored);
}

bool LogSession::start(std::string& error) {
    if (!openFiles(error) || !openCapture(error)) return false;
    const bool linked = options_.link == LinkKind::Replay   ? openReplay(error)
                        : options_.link == LinkKind::Serial ? openSerial(error)
                                                            : openUsb(error);
    if (!linked) return false;
    health_.connected(serial_ || serialReplay_ ? rd780::LinkKind::Serial : rd780::LinkKind::Usb);
    // The link timer only watches the USB cable; a serial line is left asleep (the link
    // watch counts its stalls at the next frame, or at the end).
    connect(&linkTimer_, &QTimer::timeout, this, [this] { linkTick(); });
    if (cable_) linkTimer_.start(100);
    return true;
}

namespace {

// The engine's messages already begin with the file's name.
std::string tableError(const std::string& table, const std::string& what) {
    const std::string named = table + ": ";
    return "table " + (what.compare(0, named.size(), named) == 0 ? what : named + what);
}

} // namespace

bool LogSession::openFiles(std::string& error) {
    try {
        if (!options_.table.empty()) {
            table_ = std::make_unique<ReadingTable>();
            table_->openOrCreate(options_.table);
            // Refused now rather than at the first reading, with the link already up.
            const std::string why = !table_->table().writable() ? "cannot be written (permissions)"
                                    : table_->table().hasPrimaryIndex()
                                        ? "has a primary index; rows appended out of key order "
                                          "would corrupt it"
                                    : !table_->hasRecordingFields()
                                        ? "is not a reading table (it lacks a field a reading "
                                          "fills)"
                                        : "";
            if (!why.empty()) {
                error = "table " + options_.table + ": " + why;
                return false;
            }
        }
    } catch (const std::exception& e) {
        error = tableError(options_.table, e.what());
        if (dynamic_cast<const paradox::InUseError*>(&e)) startFailure_ = TableRefused;
        return false;
    }
    if (!options_.csv.empty()) {
        csv_ = std::make_unique<CsvAppender>();
        csv_->setStopRequested(stopRequested_);
        if (!csv_->open(options_.csv, csvHeader(), options_.table)) {
            error = "CSV " + options_.csv + ": " + csv_->error();
            return false;
        }
    }
    sink_ = std::make_unique<RowSink>(table_.get(), csv_.get(), options_, outputs_);

    connect(&flushTimer_, &QTimer::timeout, this, [this] { flushFiles(); });
    flushTimer_.start(FlushIntervalMs);
    connect(&recordTimer_, &QTimer::timeout, this, [this] { rule_->tick(); });
    recordTimer_.start(1000);
    return true;
}

bool LogSession::openSerial(std::string& error) {
    serial_ = new TSerialPortDriver(this);
    serial_->SetComPort(pnCOM1);
    serial_->SetPortDevice(pnCOM1, options_.serialDevice);
    serial_->SetComPortSpeed(br2400);
    chunker_ = std::make_unique<SerialChunker>([this](const std::string& chunk) {
        if (flushChunk(state_.FrameHex, chunk)) frame(state_.FrameHex);
    });
    serial_->OnIdlePoll = [this] { chunker_->idle(); };
    serial_->OnReadError = [this](const std::string& why) {
        fail("serial port " + options_.serialDevice + ": " + why);
    };
    serial_->SetOnReceiveData({this, &LogSession::serialData});
    if (!serial_->Connect()) {
        error = "serial port " + options_.serialDevice + ": " + serial_->LastOpenError();
        return false;
    }
    return true;
}

void LogSession::serialData(void*, const std::uint8_t* data, int size) {
    if (!data || size <= 0) return;
    if (capture_) capture_->record(data, static_cast<std::size_t>(size));
    chunker_->receive(data, static_cast<std::size_t>(size));
}

bool LogSession::openCapture(std::string& error) {
    if (options_.capture.empty()) return true;
    const bool serial = options_.link == LinkKind::Serial;
    const std::string source = serial                                 ? options_.serialDevice
                               : options_.link == LinkKind::Simulated ? "simulated cable"
                               : options_.link == LinkKind::Replay    ? options_.replay
                               : !options_.usbDevice.empty()          ? options_.usbDevice
                                                                      : "USB to Serial";
    capture_ = std::make_unique<CaptureWriter>(
        options_.capture, serial ? rd780::LinkKind::Serial : rd780::LinkKind::Usb, source);
    return capture_->open(error);
}

bool LogSession::openReplay(std::string& error) {
    auto capture = std::make_shared<Capture>();
    if (!readCapture(options_.replay, *capture, error)) return false;
    auto done = [this] {
        if (over_) return;
        // The last reports may still wait for their batch: they are part of the capture.
        if (cable_) cable_->HandOverReports();
        over_ = true;
        if (ended_) ended_(0, {});
    };
    if (capture->link == rd780::LinkKind::Serial) {
        // The recorded reads go into the same frame finding as the port's.
        chunker_ = std::make_unique<SerialChunker>([this](const std::string& chunk) {
            if (flushChunk(state_.FrameHex, chunk)) frame(state_.FrameHex);
        });
        serialReplay_ = std::make_unique<SerialReplay>(
            capture, options_.speed,
            [this](const std::uint8_t* data, std::size_t size) {
                serialData(nullptr, data, static_cast<int>(size));
            },
            [this] { chunker_->idle(); }, done);
        serialReplay_->start();
        return true;
    }
    // A cable that gives back the recorded reports, read like the real one.
    auto sim = std::make_shared<SimulatedHidServices>();
    SimDeviceConfig cable;
    cable.replay = std::shared_ptr<const std::vector<CaptureRecord>>(capture, &capture->records);
    cable.replaySpeed = options_.speed;
    sim->addDevice(cable);
    sim->setReplayEnded(done);
    hidServices_ = sim;
    return openUsb(error);
}

bool LogSession::openUsb(std::string& error) {
    if (hidServices_) {
        // made by openReplay
    } else if (options_.link == LinkKind::Simulated) {
        auto sim = std::make_shared<SimulatedHidServices>();
        sim->addDevice();
        hidServices_ = sim;
    } else {
        hidServices_ = makeLinuxHidServices();
    }
    hid_ = new THidDeviceController(this, hidServices_);
    hid_->SetOnEnumerate(THidEnumerateEvent(this, "enumerate", [this](THidDevice* d, int32_t i) {
        const bool wanted = options_.usbDevice.empty()
                                ? UsbCable::isCable(*d)
                                : d->PnPInfo() && d->PnPInfo()->DevicePath == options_.usbDevice;
        if (!wanted) return true;
        hid_->CheckOutAt(i, cable_);
        return false;
    }));
    hid_->SetOnRemoval(THidPlugEvent(this, "removal", [this](THidDevice* d) {
        if (d == cable_) fail("the USB cable was unplugged");
    }));
    hid_->SetOnDeviceDataError(
        THidDataErrorEvent(this, "dataError", [this](THidDevice*, uint32_t e) {
            ++errors_;
            std::fprintf(stderr, "rd780-log: read error: %s\n", hidServices_->errorText(e).c_str());
        }));
    hid_->EnumerateDevices();
    if (!cable_) {
        error = options_.usbDevice.empty() ? "no USB cable (\"USB to Serial\") found"
                                           : "no HID device " + options_.usbDevice;
        return false;
    }
    if (!cable_->HasReadWriteAccess()) {
        error = "no read/write access to " + cable_->PnPInfo()->DevicePath +
                ": install the udev rule and re-plug the cable";
        return false;
    }
    if (!UsbCable::configure(*cable_, UsbCable::Baud)) {
        error = "the USB cable refused its line settings";
        return false;
    }
    poll();
    cable_->SetDataHandler(THidDataEvent(
        this, "data", [this](THidDevice*, uint8_t id, const uint8_t* data, uint16_t size) {
            if (capture_) capture_->hidReport(id, data, size);
            const HidReportOutcome r = usbCable().report(id, data, size);
            if (!r.wholeFrame || over_) return;
            frame(state_.FrameHex);
            poll();
        }));
    return true;
}

UsbCable LogSession::usbCable() {
    return {state_.FrameHex,       state_.ReportChunk,    state_.ChunkPending,
            state_.UsbIdleReports, state_.UsbPollReports, state_.LinkIdleTicks};
}

void LogSession::poll() {
    std::size_t written = 0;
    if (cable_) UsbCable::poll(*cable_, written);
}

void LogSession::linkTick() {
    // The cable's idle rule, as the window runs it: a silent meter is asked again, and
    // given up on at length.
    health_.tick();
    const UsbCable::TickResult idle = usbCable().tick(cable_);
    if (!idle.checked || !cable_) return;
    if (idle.repoll) poll();
    if (idle.giveUp) fail(MeterNotReadyText);
}

void LogSession::frame(const std::string& frameHex) {
    if (over_) return;
    ++frames_;
    Decoding decoding(*this);
    try {
        decodeFrame(frameHex, scale_,
                    {state_.ReadingText, state_.ReadingValue, state_.ReadingUnit,
                     state_.ReadingCoupling, state_.ReadingAuto},
                    decoding);
    } catch (const DecodeError&) {
        // A frame that does not convert is skipped, as in the window.
        ++errors_;
        if (!decoding.offered) return;
    } catch (const std::exception& e) {
        fail(e.what());
        return;
    }
    if (!decoding.offered) return;
    switch (decoding.outcome) {
    case RecordingRule::Outcome::Recorded:
        ++rows_;
        break;
    case RecordingRule::Outcome::LimitReached:
        over_ = true;
        if (ended_) ended_(0, {});
        break;
    case RecordingRule::Outcome::TableFull:
        if (!over_) {
            over_ = true;
            if (ended_) ended_(TableRefused, "the table " + options_.table + " is full");
        }
        break;
    default:
        break;
    }
    if (!over_ && rule_->RecordCount >= state_.RecordLimit) {
        over_ = true;
        if (ended_) ended_(0, {});
    }
}

void LogSession::flushFiles() {
    try {
        if (table_) table_->flush();
        if (csv_ && !csv_->sync())
            throw std::runtime_error("CSV " + options_.csv + ": " + csv_->error());
        std::string error;
        for (RowOutput* output : outputs_)
            if (!output->flush(error)) throw std::runtime_error(error);
        if (capture_ && !capture_->flush(error)) throw std::runtime_error(error);
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

void LogSession::fail(const std::string& reason) {
    if (over_) return;
    over_ = true;
    if (ended_) ended_(1, reason);
}

bool LogSession::finish(std::string& error) {
    // A silence that lasted to the end is a stall too.
    if (!over_) health_.tick();
    over_ = true;
    flushTimer_.stop();
    recordTimer_.stop();
    linkTimer_.stop();
    if (serialReplay_) serialReplay_->stop();
    if (cable_) {
        cable_->SetDataHandler({});
        delete cable_; // check-in
        cable_ = nullptr;
    }
    delete hid_;
    hid_ = nullptr;
    if (serial_) {
        serial_->Disconnect();
        delete serial_;
        serial_ = nullptr;
    }
    bool ok = true;
    if (table_) {
        try {
            table_->close();
        } catch (const std::exception& e) {
            error = tableError(options_.table, e.what());
            ok = false;
        }
        table_.reset();
    }
    if (csv_) {
        if (!csv_->close()) {
            if (ok) error = "CSV " + options_.csv + ": " + csv_->error();
            ok = false;
        }
        csv_.reset();
    }
    std::string why;
    for (RowOutput* output : outputs_) {
        if (!output->finish(why) && ok) {
            error = why;
            ok = false;
        }
    }
    if (capture_ && !capture_->finish(why) && ok) {
        error = why;
        ok = false;
    }
    capture_.reset();
    return ok;
}

namespace {

std::string count(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

std::string LogSession::summary() const {
    // Rows of this run in each file; named apart only when the files disagree.
    std::string rows = count(rows_, "row", "rows");
    if (sink_ && sink_->csvAhead())
        rows = count(rows_, "row", "rows") + " in " + options_.table + ", " +
               count(rows_ + 1, "row", "rows") + " in " + options_.csv;
    std::string s = "rd780-log: " + count(frames_, "frame", "frames") + ", " + rows + ", " +
                    count(errors_, "error", "errors");
    for (const RowOutput* output : outputs_)
        s += output->summary();
    // Said only when it happened: a stall is worth a look at the cable.
    if (health_.stalls() > 0)
        s += ", " + count(static_cast<std::uint64_t>(health_.stalls()), "stall", "stalls") +
             " of " + std::to_string(LinkWatch::StallAfter.count()) + " s without a frame";
    return s;
}

} // namespace rd780::log
