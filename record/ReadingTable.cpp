#include "record/ReadingTable.h"

#include "base/Guard.h"
#include "record/paradox/CodePage.h"

#include <cerrno>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace rd780 {

namespace px = paradox;

std::vector<px::Field> readingFields() {
    return {
        {"No", px::FieldType::Long, 0},     {"Time", px::FieldType::Time, 0},
        {"DC/AC", px::FieldType::Alpha, 4}, {"Value", px::FieldType::Alpha, 16},
        {"Unit", px::FieldType::Alpha, 8},  {"AUTO", px::FieldType::Alpha, 6},
        {"Nval", px::FieldType::Number, 0},
    };
}

std::string fieldDisplay(const px::Value& v) {
    struct Visitor {
        std::string operator()(px::Null) const { return {}; }
        std::string operator()(int64_t i) const { return std::to_string(i); }
        std::string operator()(double d) const { return px::formatNumber(d); }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(bool b) const { return b ? "True" : "False"; }
        std::string operator()(px::Date d) const { return px::formatDate(d); }
        std::string operator()(px::TimeOfDay t) const { return px::formatTime(t, false); }
        std::string operator()(px::Timestamp t) const { return px::formatTimestamp(t); }
        std::string operator()(px::BlobSize b) const {
            std::string s(1, '<'); // appended piecewise: GCC 12 misreads "lit" + string
            s += std::to_string(b.bytes);
            s += " bytes>";
            return s;
        }
    };
    return std::visit(Visitor{}, v);
}

ReadingTable::~ReadingTable() = default;

void ReadingTable::adopt(px::Table t) {
    table_.emplace(std::move(t));
    columns_.clear();
    names_.clear();
    readingColumns_ = true;
    for (const auto& name : ReadingColumns) {
        columns_.push_back(table_->fieldIndex(name));
        readingColumns_ = readingColumns_ && columns_.back() >= 0;
    }
    if (readingColumns_) {
        names_ = ReadingColumns;
    } else {
        // Another program's table: show what it holds rather than six empty columns.
        columns_.clear();
        for (size_t i = 0; i < table_->fields().size(); ++i) {
            columns_.push_back(int(i));
            names_.push_back(table_->fields()[i].name);
        }
    }
    auto idx = [&](const char* n) { return table_->fieldIndex(n); };
    map_ = {idx("no"),   idx("time"), idx("DC/AC"), idx("value"),
            idx("unit"), idx("Auto"), idx("Nval")};
    mapComplete_ = map_.no >= 0 && map_.time >= 0 && map_.coupling >= 0 && map_.value >= 0 &&
                   map_.unit >= 0 && map_.autoText >= 0 && map_.nval >= 0;
    // Rows reach the disk within a fifth of a second, grouped while frames stream in, and
    // the disk's wait (long on a USB stick or a network share) is spent off the GUI thread.
    if (table_->writable()) {
        table_->setSyncInterval(200);
        table_->setBackgroundSync(true);
    }
}

ReadingTable::OpenOutcome ReadingTable::openOrCreate(const std::filesystem::path& path) {
    // lstat: a dangling symbolic link is not a missing file; the engine refuses it.
    struct stat st {};
    OpenOutcome outcome = OpenOutcome::Opened;
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT)
        outcome = OpenOutcome::Created;
    else if (S_ISREG(st.st_mode) && st.st_size == 0)
        outcome = OpenOutcome::ReplacedEmpty;
    if (outcome != OpenOutcome::Opened) {
        px::Table created = px::Table::create(path, readingFields());
        created.close();
    }
    open(path);
    return outcome;
}

void ReadingTable::open(const std::filesystem::path& path) {
    if (table_ && isSameFile(path)) return; // already ours; a second open would lock us out
    std::error_code ec;
    bool writable = ::access(path.c_str(), W_OK) == 0 ||
                    !std::filesystem::exists(path, ec); // let the engine name a missing file
    px::Table t =
        px::Table::open(path, writable ? px::OpenMode::ReadWrite : px::OpenMode::ReadOnly);
    if (table_) {
        // The old table is released only once the new one is open, so a failed open
        // never leaves recording without a table.
        table_->close();
        table_.reset();
    }
    adopt(std::move(t));
    absolutePath_ = std::filesystem::absolute(path, ec).lexically_normal();
    if (ec) absolutePath_ = path;
}

void ReadingTable::close() {
    if (!table_) return;
    px::Table t = std::move(*table_);
    table_.reset();
    absolutePath_.clear();
    columns_.clear();
    names_.clear();
    readingColumns_ = false;
    mapComplete_ = false;
    t.close();
}

const px::Table& ReadingTable::table() const {
    if (!table_) throw AppError("The reading table is not open");
    return *table_;
}

std::filesystem::path ReadingTable::path() const {
    return table_ ? table_->path() : std::filesystem::path();
}

bool ReadingTable::isSameFile(const std::filesystem::path& p) const {
    if (!table_) return false;
    std::error_code ec;
    bool same = std::filesystem::equivalent(table_->path(), p, ec);
    return !ec && same;
}

std::vector<std::string> ReadingTable::displayRow(uint32_t i, bool requireAll) const {
    const px::Table& t = table();
    if (requireAll)
        for (const auto& name : ReadingColumns)
            t.requireField(name);
    std::vector<px::Value> row = t.readRow(i);
    std::vector<std::string> out;
    out.reserve(columns_.size());
    for (int f : columns_)
        out.push_back(f >= 0 ? fieldDisplay(row[size_t(f)]) : std::string());
    return out;
}

px::Table& ReadingTable::writableTable() {
    if (!table_) throw AppError("The reading table is not open");
    if (!table_->writable())
        throw AppError("The table " + table_->path().string() + " is open for reading only");
    return *table_;
}

void ReadingTable::appendReading(const ReadingRow& r) {
    px::Table& t = writableTable();
    if (t.hasPrimaryIndex())
        throw AppError("The table " + t.path().string() +
                       " has a primary index; rows appended out of key order would corrupt it, "
                       "so nothing is recorded into it");
    if (!mapComplete_) {
        // Name the first missing field the way the engine does.
        for (const char* n : {"no", "time", "DC/AC", "value", "unit", "Auto", "Nval"})
            t.requireField(n);
    }
    std::vector<px::Value> row = t.blankRow();
    // The meter's bytes as they came: 0xB5 (micro) or 0xFF (overload) are no UTF-8.
    auto text = [](const std::string& s) {
        return s.empty() ? px::Value{} : px::Value{px::windows1252ToUtf8(s)};
    };
    row[size_t(map_.value)] = text(r.Value);
    row[size_t(map_.nval)] = r.Nval;
    row[size_t(map_.time)] = px::TimeOfDay{r.TimeMs};
    row[size_t(map_.no)] = int64_t(r.No);
    row[size_t(map_.coupling)] = text(r.Coupling);
    row[size_t(map_.unit)] = text(r.Unit);
    row[size_t(map_.autoText)] = text(r.Auto);
    t.appendRow(row);
}

int64_t ReadingTable::rowCount() const {
    return table_ ? int64_t(table_->rowCount()) : 0;
}

void ReadingTable::emptyTable() {
    writableTable().emptyTable();
}

bool ReadingTable::isFull() const {
    return table_ && table_->rowCount() >= table_->capacity();
}

void ReadingTable::flush() {
    if (table_ && table_->writable() && table_->flushPending()) table_->flush();
}

void ReadingTable::startFlush() {
    if (table_ && table_->writable()) table_->startFlush();
}

void ReadingTable::setBackgroundSync(bool on) {
    if (table_ && table_->writable()) table_->setBackgroundSync(on);
}

void ReadingTable::setSyncCall(px::Table::SyncCall call) {
    if (table_) table_->setSyncCall(std::move(call));
}

} // namespace rd780
