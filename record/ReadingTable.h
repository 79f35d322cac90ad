#pragma once
// The reading table: the one open Paradox table the window records into, shows, exports
// and prints. Wraps the table engine with the reading row's field mapping.
#include "record/RecordingRule.h"
#include "record/paradox/ParadoxTable.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace rd780 {

// The columns the grid, the text export and the report show, in this order.
inline const std::vector<std::string> ReadingColumns = {"No",    "Time", "DC/AC",
                                                        "Value", "Unit", "AUTO"};

// The fields of a reading table made by this program. The text widths hold the longest
// texts the decoder produces, with room to spare.
std::vector<paradox::Field> readingFields();

// The text a field value shows in the grid, the export and the report: integers in
// decimal, times as HH:MM:SS, texts as stored, NULL as an empty text.
std::string fieldDisplay(const paradox::Value& v);

class ReadingTable : public ReadingSink {
public:
    ReadingTable() = default;
    ~ReadingTable() override;

    enum class OpenOutcome { Opened, Created, ReplacedEmpty };
    // Opens the table at path for this process alone, creating an empty reading table
    // first when the file is missing, or in place of a zero-length file (a creation cut
    // short, with nothing in it to lose). Anything else that is not a table is refused.
    OpenOutcome openOrCreate(const std::filesystem::path& path);
    // Opens an existing table file. The previous table stays open if this one fails.
    // A table that cannot be written (file permissions) is opened for reading only.
    void open(const std::filesystem::path& path);
    // Flushes and closes; errors of the flush are thrown.
    void close();

    bool isOpen() const { return table_.has_value(); }
    const paradox::Table& table() const;
    std::filesystem::path path() const;
    // The open table's file as an absolute path, made when it was opened (the working
    // folder may change later).
    const std::filesystem::path& absolutePath() const { return absolutePath_; }
    // True when path names the file of the open table.
    bool isSameFile(const std::filesystem::path& path) const;

    // The columns shown for the open table: the six reading columns, or, for a table that
    // lacks one of them, every field of the table in its own order.
    const std::vector<std::string>& columnNames() const { return names_; }
    bool hasReadingColumns() const { return readingColumns_; }
    // True when the open table has every field a recorded row fills.
    bool hasRecordingFields() const { return mapComplete_; }
    // Display texts of the shown columns of row i; with requireAll, throws naming the first
    // reading column the table lacks.
    std::vector<std::string> displayRow(uint32_t i, bool requireAll) const;

    // ReadingSink
    void appendReading(const ReadingRow& row) override;
    int64_t rowCount() const override;
    void emptyTable() override;
    // True when no further row fits.
    bool isFull() const override;

    // Makes appended rows durable if any are pending; durable on return.
    void flush();
    // Starts making pending rows durable without waiting (called from a short timer); a
    // failure of an earlier start is thrown by the next call.
    void startFlush();
    // Whether the open table syncs on a thread of its own (the default) or on the caller's.
    void setBackgroundSync(bool on);
    // Replaces what syncs the open table (a test's failing disk).
    void setSyncCall(paradox::Table::SyncCall call);

private:
    paradox::Table& writableTable();
    void adopt(paradox::Table t);

    std::optional<paradox::Table> table_;
    std::filesystem::path absolutePath_;
    std::vector<int> columns_;
    std::vector<std::string> names_;
    bool readingColumns_ = false;
    struct FieldMap {
        int no, time, coupling, value, unit, autoText, nval;
    } map_{};
    bool mapComplete_ = false;
};

} // namespace rd780
