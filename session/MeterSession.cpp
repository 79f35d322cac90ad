#include "session/MeterSession.h"

#include "link/capture/CaptureFile.h"
#include "link/hid/HidControllerClass.h"
#include "link/serial/SerialPortDriver.h"
#include "link/serial/SerialReplay.h"
#include "meter/core/SerialChunker.h"
#include "record/CsvAppender.h"
#include "record/CsvExport.h"
#include "record/ReadingTable.h"
#include "record/RowOutput.h"
#include "record/paradox/ParadoxTable.h"

#include <climits>
#include <ctime>
#include <optional>

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

// The engine's messages already begin with the file's name.
std::string tableError(const std::string& table, const std::string& what) {
    const std::string named = table + ": ";
    return "table " + (what.compare(0, named.size(), named) == 0 ? what : named + what);
}

std::string count(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

// Every row the rule appends goes to the CSV and to the table, with one time stamp. The CSV
// line is written first and taken back if the table refuses the row, so after any failure
// both files hold the same rows; the other outputs hear of a row once both files hold it.
class MeterSession::Sinks : public ReadingSink {
public:
    Sinks(MeterSession& s) : s_(s) {}
    Stamp stamp;

    void appendReading(const ReadingRow& row) override {
        const CsvReading reading{stamp.date, row.TimeMs, std::to_string(row.No),
                                 row.Value,  row.Unit,   row.Coupling,
                                 row.Auto};
        CsvAppender* csv = s_.csv_.get();
        if (csv && !csv->append(csvLine(reading)))
            throw std::runtime_error("CSV " + s_.options_.csv + ": " + csv->error());
        if (s_.table_.isOpen()) {
            try {
                s_.table_.appendReading(row);
            } catch (...) {
                if (csv) csvAhead_ = !csv->dropLast();
                throw;
            }
        }
        for (const auto& output : s_.outputs_)
            output->put(reading);
        ++count_;
    }
    int64_t rowCount() const override { return s_.table_.isOpen() ? s_.table_.rowCount() : count_; }
    void emptyTable() override {}
    bool isFull() const override { return s_.table_.isOpen() && s_.table_.isFull(); }
    // True when the CSV holds a row the table refused (standard output cannot take it back).
    bool csvAhead() const { return csvAhead_; }

private:
    MeterSession& s_;
    int64_t count_ = 0;
    bool csvAhead_ = false;
};

// The decoder's steps: the link is alive, the reading is offered for recording; every
// step is shown by the view, when there is one.
class MeterSession::Decoding : public DecodeSink {
public:
    explicit Decoding(MeterSession& s) : s_(s), v_(s.view_) {}
    void showConnection() override {
        s_.idleTicks_ = 0;
        s_.tellHealth(s_.health_.frame());
        if (v_) v_->showConnection();
    }
    void showPointShape(int position) override {
        if (v_) v_->showPointShape(position);
    }
    void showSign(bool negative) override {
        if (v_) v_->showSign(negative);
    }
    void showDigits(char a, char b, char c, char d) override {
        if (v_) v_->showDigits(a, b, c, d);
    }
    void hideUnitGlyphs() override {
        if (v_) v_->hideUnitGlyphs();
    }
    void showPrefix(char prefix) override {
        if (v_) v_->showPrefix(prefix);
    }
    void showFunction(int code, char mode, char prefix) override {
        if (v_) v_->showFunction(code, mode, prefix);
    }
    void showPointAgain(int position, bool hideThird) override {
        if (v_) v_->showPointAgain(position, hideThird);
    }
    void scalePointer(int value) override {
        if (v_) v_->scalePointer(value);
    }
    void offerForRecording() override {
        s_.reading_.Value = s_.value_;
        decoded = true;
        if (v_) v_->offerForRecording();
        emit s_.readingDecoded(s_.reading_);
        s_.record(s_.reading_);
    }
    void setBar(int position) override {
        if (v_) v_->setBar(position);
    }
    void resetChart() override {
        if (v_) v_->resetChart();
    }
    void plotWaveform(const std::string& frameHex) override {
        if (v_) v_->plotWaveform(frameHex);
    }
    bool decoded = false;

private:
    MeterSession& s_;
    DecodeView* const v_;
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

void MeterSession::addOutput(std::shared_ptr<RowOutput> output) {
    outputs_.push_back(std::move(output));
}

void MeterSession::setStopRequested(std::function<bool()> stop) {
    stopRequested_ = std::move(stop);
}

bool MeterSession::openTable(std::string& error) {
    try {
        table_.openOrCreate(options_.table);
        if (!options_.backgroundSync) table_.setBackgroundSync(false);
    } catch (const std::exception& e) {
        table_.close();
        error = tableError(options_.table, e.what());
        if (dynamic_cast<const paradox::InUseError*>(&e)) startFailure_ = TableRefused;
        return false;
    }
    // Refused now rather than at the first reading, with the link already up.
    const std::string why =
        !table_.table().writable() ? "cannot be written (permissions)"
        : table_.table().hasPrimaryIndex()
            ? "has a primary index; rows appended out of key order would corrupt it"
        : !table_.hasRecordingFields() ? "is not a reading table (it lacks a field a reading fills)"
                                       : "";
    if (why.empty()) return true;
    error = "table " + options_.table + ": " + why;
    return false;
}

bool MeterSession::openSinks(std::string& error) {
    if (!options_.table.empty() && !openTable(error)) return false;
    if (!options_.csv.empty()) {
        csv_ = std::make_unique<CsvAppender>();
        csv_->setStopRequested(stopRequested_);
        if (!csv_->open(options_.csv, csvHeader(), options_.table)) {
            error = "CSV " + options_.csv + ": " + csv_->error();
            return false;
        }
    }
    sinks_ = std::make_unique<Sinks>(*this);
    connect(&flushTimer_, &QTimer::timeout, this, [this] { flush(); });
    flushTimer_.start(FlushIntervalMs);
    connect(&recordTimer_, &QTimer::timeout, this, [this] { tickRecording(); });
    recordTimer_.start(RecordTickMs);
    return true;
}

bool MeterSession::frame(const std::string& frameHex) {
    if (over_) return false;
    ++frames_;
    emit frameAssembled(frameHex);
    Decoding decoding(*this);
    Reading& r = reading_;
    std::string failure;
    try {
        decodeFrame(frameHex, scale_, {r.Text, value_, r.Unit, r.Coupling, r.Auto}, decoding);
    } catch (const DecodeError& e) {
        // A frame that does not convert is skipped; the next one may be fine.
        ++errors_;
        failure = e.text();
    } catch (const std::exception& e) {
        // A view's or a sink's error: the caller's gate tells it, or it ends the run.
        if (options_.recordError == SessionOptions::RecordError::Tell) throw;
        fail(e.what());
        return false;
    }
    r.Value = value_;
    if (view_) view_->frameEnded(r, failure.empty() ? nullptr : &failure);
    return failure.empty();
}

std::optional<RecordingRule::Outcome> MeterSession::record(const Reading& reading) {
    // Without a table the readings wait for one; the window's grid says so.
    if (over_ || !sinks_ || (options_.waitForTable && !table_.isOpen())) return std::nullopt;
    sinks_->stamp = now();
    if (options_.timeOfDay) sinks_->stamp.timeMs = options_.timeOfDay();
    RecordingRule::Outcome outcome;
    try {
        outcome = rule_.offer(reading, sinks_->stamp.timeMs, *sinks_);
    } catch (const std::exception& e) {
        if (options_.recordError == SessionOptions::RecordError::End) throw;
        emit recordingFailed(e.what());
        return std::nullopt;
    }
    if (outcome == RecordingRule::Outcome::Recorded) ++rows_;
    emit recordingChanged(outcome);
    if (outcome == RecordingRule::Outcome::TableFull &&
        options_.recordError == SessionOptions::RecordError::End)
        end(TableRefused, "the table " + options_.table + " is full");
    else if (options_.endAtLimit &&
             (outcome == RecordingRule::Outcome::LimitReached || rule_.limitReached()))
        end(0, {});
    return outcome;
}

void MeterSession::tickRecording() {
    rule_.tick();
    emit recordingTicked();
}

void MeterSession::flush() {
    try {
        // Not waited for: the table syncs on its own thread and tells a failure next time.
        if (table_.isOpen()) table_.startFlush();
        if (csv_ && !csv_->sync())
            throw std::runtime_error("CSV " + options_.csv + ": " + csv_->error());
        std::string error;
        for (const auto& output : outputs_)
            if (!output->flush(error)) throw std::runtime_error(error);
        if (capture_ && !capture_->flush(error)) throw std::runtime_error(error);
        lastSinkTrouble_.clear();
    } catch (const std::exception& e) {
        sinkTrouble(e.what());
    }
}

void MeterSession::sinkTrouble(const std::string& reason) {
    if (options_.recordError == SessionOptions::RecordError::End) return fail(reason);
    // Told once, not every flush, until the rows are durable again.
    if (reason == lastSinkTrouble_) return;
    lastSinkTrouble_ = reason;
    emit sinkFailed(reason);
}

void MeterSession::tellHealth(bool changed) {
    if (changed) emit linkHealthChanged(health_.state());
}

void MeterSession::end(int code, const std::string& reason) {
    if (over_) return;
    over_ = true;
    emit ended(code, reason);
}

bool MeterSession::finish(std::string& error) {
    // What the cable read before the end is handed over and recorded first: stopping the
    // reader later would hand it over to a session that is over, which would capture those
    // reports but record no row of them.
    if (!over_ && !finished_ && device_) device_->StopReading();
    // A silence that lasted to the end is a stall too.
    if (!over_) health_.tick();
    over_ = true;
    if (finished_) return true;
    finished_ = true;
    flushTimer_.stop();
    recordTimer_.stop();
    linkTimer_.stop();
    if (serialReplay_) serialReplay_->stop();
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
    auto failed = [&](const std::string& why) {
        if (ok) error = why;
        ok = false;
    };
    if (table_.isOpen()) {
        try {
            table_.close();
        } catch (const std::exception& e) {
            failed(tableError(options_.table.empty() ? table_.path().string() : options_.table,
                              e.what()));
        }
    }
    if (csv_) {
        if (!csv_->close()) failed("CSV " + options_.csv + ": " + csv_->error());
        csv_.reset();
    }
    std::string why;
    for (const auto& output : outputs_)
        if (!output->finish(why)) failed(why);
    if (capture_ && !capture_->finish(why)) failed(why);
    capture_.reset();
    return ok;
}

std::string MeterSession::summary() const {
    // Rows of this run in each file; named apart only when the files disagree.
    std::string rows = count(rows_, "row", "rows");
    if (sinks_ && sinks_->csvAhead())
        rows += " in " + options_.table + ", " + count(rows_ + 1, "row", "rows") + " in " +
                options_.csv;
    std::string s =
        count(frames_, "frame", "frames") + ", " + rows + ", " + count(errors_, "error", "errors");
    for (const auto& output : outputs_)
        s += output->summary();
    // Said only when it happened: a stall is worth a look at the cable.
    if (health_.stalls() > 0)
        s += ", " + count(static_cast<std::uint64_t>(health_.stalls()), "stall", "stalls") +
             " of " + std::to_string(LinkWatch::StallAfter.count()) + " s without a frame";
    return s;
}

} // namespace rd780
