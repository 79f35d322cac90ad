#pragma once
// Paradox table (.DB) engine: reads every field type, writes tables that other Paradox
// readers open, and appends rows durably. Plain C++ so the fuzz build can use it.
//
// A Table is used from one thread at a time (the GUI thread in the program); only its own
// background sync, when turned on, runs elsewhere.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace rd780::paradox {

// Every failure of the engine. what() names the file and the problem.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Another program or window has the table open for writing.
class InUseError : public Error {
public:
    using Error::Error;
};

// Field types with their codes in the file.
enum class FieldType : std::uint8_t {
    Alpha = 0x01,     // A n: text of n bytes in the table's code page
    Date = 0x02,      // D
    Short = 0x03,     // S: 16-bit integer
    Long = 0x04,      // I: 32-bit integer
    Currency = 0x05,  // $: double
    Number = 0x06,    // N: double
    Logical = 0x09,   // L
    Memo = 0x0C,      // M n: leader of n-10 bytes plus a pointer into the .MB file
    Blob = 0x0D,      // B
    FmtMemo = 0x0E,   // F
    Ole = 0x0F,       // O
    Graphic = 0x10,   // G
    Time = 0x14,      // T: milliseconds since midnight
    Timestamp = 0x15, // @
    AutoInc = 0x16,   // +
    Bcd = 0x17,       // # n: 17 bytes, n decimal places
    Bytes = 0x18,     // Y n
};

// The letter Paradox uses for the type ('A', 'N', '$', '#', ...).
char typeLetter(FieldType t);
// The type for a letter, or throws Error for an unknown letter.
FieldType typeFromLetter(char c);
// True for the types whose values are placeholders here (M, B, F, O, G, Y).
bool isBlobType(FieldType t);

struct Field {
    std::string name; // UTF-8
    FieldType type = FieldType::Alpha;
    // Size as Paradox declares it: bytes for A, M, B, F, O, G, Y; decimal places for #;
    // ignored on create for the fixed-size types (0 means "the type's own size").
    int size = 0;
};

// Bytes a field takes in a record (17 for BCD whatever its size).
int storageSize(const Field& f);

// Days counted so that 0001-01-01 is day 1 (proleptic Gregorian calendar).
struct Date {
    std::int32_t days = 0;
    bool operator==(const Date&) const = default;
};
// Milliseconds since midnight, 0 .. 86,399,999.
struct TimeOfDay {
    std::int32_t ms = 0;
    bool operator==(const TimeOfDay&) const = default;
};
// Milliseconds since 0001-01-01 00:00 counted like Date (so day d starts at d * 86,400,000).
struct Timestamp {
    double ms = 0;
    bool operator==(const Timestamp&) const = default;
};
// Memo, blob, OLE, graphic and bytes fields are not loaded: only their size in bytes.
struct BlobSize {
    std::uint32_t bytes = 0;
    bool operator==(const BlobSize&) const = default;
};
struct Null {
    bool operator==(const Null&) const = default;
};

// A field value. Which alternative each type uses:
//   A -> std::string (UTF-8), S I + -> int64_t, N $ # -> double, L -> bool, D -> Date,
//   T -> TimeOfDay, @ -> Timestamp, M B F O G Y -> BlobSize (read only).
// Null is an empty field; an empty alpha text reads back as Null too.
using Value = std::variant<Null, std::int64_t, double, std::string, bool, Date, TimeOfDay,
                           Timestamp, BlobSize>;

inline bool isNull(const Value& v) {
    return std::holds_alternative<Null>(v);
}

Date makeDate(int year, int month, int day);
void splitDate(Date d, int& year, int& month, int& day);
TimeOfDay makeTime(int hour, int minute, int second, int millisecond = 0);
Timestamp makeTimestamp(Date d, TimeOfDay t);

// "YYYY-MM-DD"
std::string formatDate(Date d);
// "HH:MM:SS.mmm", or "HH:MM:SS" without milliseconds.
std::string formatTime(TimeOfDay t, bool withMilliseconds = true);
// "YYYY-MM-DD HH:MM:SS.mmm"
std::string formatTimestamp(Timestamp t);
// Shortest decimal text that reads back as exactly d ("1.5", "-200", "1e+300").
std::string formatNumber(double d);
// The text rd780-table prints for a value: "\N" for NULL, alpha with \\ \t \r \n escaped,
// "<N bytes>" for blobs, true/false, and the formats above.
std::string displayText(const Value& v);

enum class OpenMode {
    ReadOnly,  // no lock; the file is never written
    ReadWrite, // exclusive: a second writer (any process, or this one) is refused
};

struct CreateOptions {
    // Block size in KiB (1, 2, 3, 4, 8, 16 or 32). 0 picks the smallest size >= 4 KiB whose
    // 65,535 blocks hold more than ten million rows (32 KiB when none does).
    int blockKiB = 0;
    // Code page of alpha texts. 1252, 437, 850 and 866 are known.
    int codePage = 1252;
};

// One open table. Movable, not copyable. The destructor closes it (flushing pending
// writes); errors on that path are swallowed, so call close() to see them.
class Table {
public:
    Table();
    ~Table();
    Table(Table&&) noexcept;
    Table& operator=(Table&&) noexcept;
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // Creates a new, empty table and returns it open for read-write. It replaces a regular
    // file at path that no one holds open for writing; a symbolic link or any other kind of
    // file there is refused. The table appears whole or not at all. Field names must be
    // unique (case-insensitive), 1..25 bytes.
    static Table create(const std::filesystem::path& path, const std::vector<Field>& fields,
                        const CreateOptions& options = {});
    // Opens an existing table: a regular file only (refused at once otherwise), never
    // through a symbolic link for ReadWrite. Checks the header and the whole block chain; a
    // damaged, foreign or encrypted file throws Error. ReadWrite also repairs the counts that a
    // crash between writing a row and updating the header may have left behind.
    static Table open(const std::filesystem::path& path, OpenMode mode);

    // Waits for a background sync in flight, flushes pending writes and releases the file
    // and its lock. Safe to call twice.
    void close();
    bool isOpen() const;
    bool writable() const;
    const std::filesystem::path& path() const;

    const std::vector<Field>& fields() const;
    // Index of the field named name (case-insensitive), or -1.
    int fieldIndex(std::string_view name) const;
    // Same, but throws Error naming the field and the file when there is none.
    int requireField(std::string_view name) const;

    std::uint32_t rowCount() const;
    // Row i in block-chain order (0-based). Reads the file; only one block is cached.
    std::vector<Value> readRow(std::uint32_t i) const;
    Value readValue(std::uint32_t row, int field) const;

    // A row of NULLs with one value per field, to fill with setField and append.
    std::vector<Value> blankRow() const;
    // Sets the field named name (case-insensitive) in row; throws Error when there is none.
    void setField(std::vector<Value>& row, std::string_view name, Value v) const;

    // Appends one row. Values must match the field types (ints for S/I/+, doubles or ints
    // for N/$/#, ...); a mismatch, an alpha text too long for its field, or a text the code
    // page cannot hold throws Error and writes nothing. The row is written through to the
    // file at once: record bytes, then the block header, then the table header. The
    // fdatasync follows at once when the last one is older than syncInterval, otherwise
    // it is left pending for flush() (call it from a timer). With background sync the due
    // fdatasync is started on the table's own thread instead, and rows appended while it
    // runs stay pending. A table with a primary index refuses appends ("rows out of key
    // order would corrupt its index"); a table whose 65,535 blocks are full throws "table
    // is full". A failed background sync is thrown here (before the row is written) or by
    // the next flush of either kind, once until a sync succeeds again; its rows stay
    // pending for the next sync.
    void appendRow(const std::vector<Value>& row);
    // Makes every appended row durable now (fdatasync) if any is pending, waiting for a
    // background sync in flight first. Durable on return.
    void flush();
    // Starts making the pending rows durable and returns at once: on the table's thread
    // with background sync (nothing is started while a sync runs), as flush() without.
    void startFlush();
    bool flushPending() const;
    // Milliseconds between forced syncs in appendRow; 0 syncs after every row.
    void setSyncInterval(int ms);
    // Whether the syncs of appendRow and startFlush run on a thread the table owns, so the
    // caller never waits for the disk while rows stream in. Writable tables only; off by
    // default. The thread sleeps while nothing is pending.
    void setBackgroundSync(bool on);
    // What makes written rows durable: fdatasync unless replaced (a test's sync that blocks
    // or fails). Takes the file descriptor, returns 0 or an errno value; may run on the
    // table's thread.
    using SyncCall = std::function<int(int fd)>;
    void setSyncCall(SyncCall call);

    // Removes all rows (the file keeps its header and no blocks). Durable on return.
    // Refused for a table with a primary index, whose .PX would then be stale.
    void emptyTable();
    // True when the table is keyed (has a .PX primary index).
    bool hasPrimaryIndex() const;
    int codePage() const;
    int blockSize() const;
    // Rows that fit in this table's 65,535 blocks.
    std::uint64_t capacity() const;

    // Writes a new table at dest (replacing it) with the same fields and every row, with no
    // primary index, and makes it durable. Alpha texts keep their characters (a table without
    // a code page number becomes 1252). A memo or blob that holds data cannot be copied
    // (its text lives in the .MB file): throws Error and leaves no destination behind.
    // Index files of an earlier table of the same name (.PX, .Xnn, .Ynn, .XGn, .YGn, any
    // case) are removed once the copy is complete; no other file is touched.
    void copyTo(const std::filesystem::path& dest) const;

    struct Impl; // opaque: the file's state lives in the implementation

private:
    std::unique_ptr<Impl> d;
};

} // namespace rd780::paradox
