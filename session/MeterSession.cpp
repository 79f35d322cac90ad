#include "session/MeterSession.h"

#include "link/hid/HidControllerClass.h"
#include "link/serial/SerialPortDriver.h"
#include "meter/core/SerialChunker.h"
#include "record/CsvExport.h"
#include "record/FileWriter.h"
#include "record/ReadingTable.h"

#include <climits>
#include <ctime>
#include <unistd.h>

namespace rd780 {

namespace {

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

// Every row the rule appends goes to the table and to the CSV, with one time stamp.
class MeterSession::Sinks : public ReadingSink {
public:
    Sinks(ReadingTable* table, FileWriter* csv) : table_(table), csv_(csv) {}
    Stamp stamp;

    void appendReading(const ReadingRow& row) override {
        if (table_) table_->appendReading(row);
        if (csv_) {
            csv_->add(csvLine({stamp.date, row.TimeMs, std::to_string(row.No), row.Value, row.Unit,
                               row.Coupling, row.Auto}));
            // Handed to the system with each row: a reader of the file sees it at once.
            if (!csv_->flush()) throw std::runtime_error("CSV: " + csv_->error());
        }
        ++count_;
    }
    int64_t rowCount() const override { return table_ ? table_->rowCount() : count_; }
    void emptyTable() override {}
    bool isFull() const override { return table_ && table_->isFull(); }

private:
    ReadingTable* table_;
    FileWriter* csv_;
    int64_t count_ = 0;
};

// The decoder's steps the session needs: the link is alive, and the reading is offered.
class MeterSession::Decoding : public DecodeSink {
public:
    explicit Decoding(MeterSession& s) : s_(s) {}
    void showConnection() override {
        s_.idleTicks_ = 0;
        s_.tellHealth(s_.health_.frame());
    }
    void offerForRecording() override {
        s_.sinks_->stamp = now();
        outcome = s_.rule_.offer(reading, s_.sinks_->stamp.timeMs, *s_.sinks_);
        offered = true;
    }
    Reading reading;
    RecordingRule::Outcome outcome = RecordingRule::Outcome::Waiting;
    bool offered = false;

private:
    MeterSession& s_;
};

MeterSession::MeterSession(SessionOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)),
      recordLimit_(options_.limit > 0 ? options_.limit : INT_MAX), rule_(recordNo_, recordLimit_),
      cable_(frameHex_, reportChunk_, chunkPending_, idleReports_, pollReports_, idleTicks_),
      health_(options_.linkClock ? options_.linkClock : &LinkWatch::Clock::now) {
    rule_.IntervalOn = options_.intervalSeconds > 0;
    rule_.IntervalText = std::to_string(options_.intervalSeconds);
    rule_.RepeatOn = options_.skipRepeats;
    rule_.Gate = options_.limitGate;
}

MeterSession::~MeterSession() {
    std::string ignored;
    finish(ignored);
}

bool MeterSession::start(std::string& error) {
    if (!openSinks(error)) return false;
    using Link = SessionOptions::Link;
    if (options_.link == Link::Serial && !openSerial(error)) return false;
    if (options_.link == Link::Usb && !openUsb(error)) return false;
    if (options_.link != Link::None) health_.connected(options_.link);
    connect(&linkTimer_, &QTimer::timeout, this, [this] { linkTick(); });
    linkTimer_.start(UsbCable::TickMs);
    return true;
}

bool MeterSession::openSinks(std::string& error) {
    try {
        if (!options_.table.empty()) {
            table_ = std::make_unique<ReadingTable>();
            table_->openOrCreate(options_.table);
        }
    } catch (const std::exception& e) {
        error = "table " + options_.table + ": " + e.what();
        return false;
    }
    if (!options_.csv.empty()) {
        csvDurable_ = options_.csv != "-";
        csv_ = csvDurable_ ? std::make_unique<FileWriter>(options_.csv)
                           : std::make_unique<FileWriter>(::dup(STDOUT_FILENO));
        csv_->add(csvHeader());
        if (!csv_->flush(csvDurable_)) {
            error = "CSV " + options_.csv + ": " + csv_->error();
            return false;
        }
    }
    sinks_ = std::make_unique<Sinks>(table_.get(), csv_.get());
    connect(&flushTimer_, &QTimer::timeout, this, [this] { flush(); });
    flushTimer_.start(FlushIntervalMs);
    connect(&recordTimer_, &QTimer::timeout, this, [this] { rule_.tick(); });
    recordTimer_.start(RecordTickMs);
    return true;
}

bool MeterSession::openSerial(std::string& error) {
    serial_ = new TSerialPortDriver(this);
    serial_->SetComPort(pnCOM1);
    serial_->SetPortDevice(pnCOM1, options_.serialDevice);
    serial_->SetComPortSpeed(br2400);
    chunker_ = std::make_unique<SerialChunker>([this](const std::string& chunk) {
        if (flushChunk(frameHex_, chunk)) frame(frameHex_);
    });
    serial_->OnIdlePoll = [this] { chunker_->idle(); };
    serial_->OnReadError = [this](const std::string& why) {
        fail("serial port " + options_.serialDevice + ": " + why);
    };
    serial_->SetOnReceiveData({this, &MeterSession::serialData});
    if (!serial_->Connect()) {
        error = "serial port " + options_.serialDevice + ": " + serial_->LastOpenError();
        return false;
    }
    return true;
}

void MeterSession::serialData(void*, const std::uint8_t* data, int size) {
    if (data && size > 0) chunker_->receive(data, static_cast<std::size_t>(size));
}

bool MeterSession::openUsb(std::string& error) {
    hid_ = new THidDeviceController(this, options_.hid ? options_.hid : makeLinuxHidServices());
    hid_->SetOnEnumerate(THidEnumerateEvent(this, "enumerate", [this](THidDevice* d, int32_t i) {
        const bool wanted = options_.usbDevice.empty()
                                ? UsbCable::isCable(*d)
                                : d->PnPInfo() && d->PnPInfo()->DevicePath == options_.usbDevice;
        if (!wanted) return true;
        hid_->CheckOutAt(i, device_);
        return false;
    }));
    hid_->SetOnRemoval(THidPlugEvent(this, "removal", [this](THidDevice* d) {
        if (d != device_) return;
        tellHealth(
            health_.cableGone({d->VendorID(), d->ProductID(), d->ProductText(), d->SerialText()}));
        fail("the USB cable was unplugged");
    }));
    hid_->SetOnDeviceDataError(
        THidDataErrorEvent(this, "dataError", [this](THidDevice*, uint32_t e) {
            const std::string text = "read error: " + hid_->Services()->errorText(e);
            ++errors_;
            if (options_.readError == SessionOptions::ReadError::End) return fail(text);
            if (options_.message) options_.message(text);
        }));
    hid_->EnumerateDevices();
    if (!device_) {
        error = options_.usbDevice.empty() ? "no USB cable (\"USB to Serial\") found"
                                           : "no HID device " + options_.usbDevice;
        return false;
    }
    if (!device_->HasReadWriteAccess()) {
        error = "no read/write access to " + device_->PnPInfo()->DevicePath +
                ": install the udev rule and re-plug the cable";
        return false;
    }
    if (!UsbCable::configure(*device_, UsbCable::Baud)) {
        error = "the USB cable refused its line settings";
        return false;
    }
    cable_.restart();
    std::size_t written = 0;
    UsbCable::poll(*device_, written);
    device_->SetDataHandler(THidDataEvent(
        this, "data", [this](THidDevice*, uint8_t id, const uint8_t* data, uint16_t size) {
            const HidReportOutcome r = cable_.report(id, data, size);
            if (!r.wholeFrame || over_) return;
            frame(frameHex_);
            std::size_t written = 0;
            // Even after a failed decode: the meter's next frame may be fine.
            if (device_) UsbCable::poll(*device_, written);
        }));
    return true;
}

void MeterSession::linkTick() {
    tellHealth(health_.tick());
    const UsbCable::TickResult idle = cable_.tick(device_);
    if (!idle.checked) return;
    emit linkIdle();
    if (!device_) return;
    std::size_t written = 0;
    if (idle.repoll) UsbCable::poll(*device_, written);
    if (idle.giveUp) fail(MeterNotReadyText);
}

void MeterSession::tellHealth(bool changed) {
    if (changed) emit linkHealthChanged(health_.state());
}

void MeterSession::frame(const std::string& frameHex) {
    if (over_) return;
    ++frames_;
    emit frameAssembled(frameHex);
    Decoding decoding(*this);
    Reading& r = decoding.reading;
    float value = 0.0f;
    try {
        decodeFrame(frameHex, scale_, {r.Text, value, r.Unit, r.Coupling, r.Auto}, decoding);
    } catch (const DecodeError&) {
        // A frame that does not convert is skipped, as in the window.
        ++errors_;
        if (!decoding.offered) return;
    } catch (const std::exception& e) {
        fail(e.what());
        return;
    }
    if (!decoding.offered) return;
    r.Value = value;
    emit readingDecoded(r);
    emit recordingChanged(decoding.outcome);
    switch (decoding.outcome) {
    case RecordingRule::Outcome::Recorded:
        ++rows_;
        break;
    case RecordingRule::Outcome::TableFull:
        fail("the table " + options_.table + " is full");
        return;
    default:
        break;
    }
    if (options_.endAtLimit && !over_ &&
        (decoding.outcome == RecordingRule::Outcome::LimitReached || rule_.limitReached())) {
        over_ = true;
        emit ended(0, {});
    }
}

void MeterSession::flush() {
    try {
        if (table_) table_->flush();
        if (csv_ && !csv_->flush(csvDurable_)) throw std::runtime_error("CSV: " + csv_->error());
    } catch (const std::exception& e) {
        fail(e.what());
    }
}

void MeterSession::fail(const std::string& reason) {
    if (over_) return;
    over_ = true;
    emit ended(1, reason);
}

bool MeterSession::finish(std::string& error) {
    over_ = true;
    flushTimer_.stop();
    recordTimer_.stop();
    linkTimer_.stop();
    if (device_) {
        device_->SetDataHandler({});
        delete device_; // check-in
        device_ = nullptr;
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
            error = "table " + options_.table + ": " + e.what();
            ok = false;
        }
        table_.reset();
    }
    if (csv_) {
        if (!csv_->flush(csvDurable_) || !csv_->finish()) {
            if (ok) error = "CSV " + options_.csv + ": " + csv_->error();
            ok = false;
        }
        csv_.reset();
    }
    return ok;
}

} // namespace rd780
