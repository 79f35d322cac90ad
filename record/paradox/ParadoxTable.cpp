// The .DB file: header, field descriptors and the chain of record blocks.
//
// Layout: a header of headerSize bytes, then blocks of blockSize bytes numbered from 1.
// A block starts with next block (u16), previous block (u16) and addDataSize (i16, the
// bytes of records after the first one); records are fixed-length, fields stored
// big-endian with the sign bit flipped so that all zero bytes mean NULL.
#include "ParadoxTable.h"

#include "CodePage.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace rd780::paradox {

namespace {

std::string rowsText(std::uint64_t n) {
    return std::to_string(n) + (n == 1 ? " row" : " rows");
}

constexpr int kMaxBlocks = 65535;
constexpr int kBlockHeader = 6;
constexpr std::uint32_t kTargetRows = 10'000'000;

// Header offsets.
constexpr int kRecordSize = 0x00, kHeaderSize = 0x02, kFileType = 0x04, kMaxTableSize = 0x05,
              kNumRecords = 0x06, kNextBlock = 0x0A, kFileBlocks = 0x0C, kFirstBlock = 0x0E,
              kLastBlock = 0x10, kNumFields = 0x21, kKeyFields = 0x23, kEncryption1 = 0x25,
              kVersion = 0x39, kMaxBlocksField = 0x3A, kAutoInc = 0x49, kEncryption2 = 0x5C,
              kCodePage = 0x6A, kFieldInfoOld = 0x58, kFieldInfo = 0x78;
constexpr std::uint8_t kOurVersion = 0x0C; // Paradox 7

std::uint16_t getU16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t getU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void putU16(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void putU32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint64_t getBE(const unsigned char* p, int n) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | p[i];
    return v;
}
void putBE(unsigned char* p, int n, std::uint64_t v) {
    for (int i = n - 1; i >= 0; --i) {
        p[i] = static_cast<unsigned char>(v);
        v >>= 8;
    }
}

bool allZero(const unsigned char* p, int n) {
    return std::all_of(p, p + n, [](unsigned char c) { return c == 0; });
}

std::string lower(std::string_view s) {
    std::string r(s);
    for (auto& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::string errnoText() {
    return std::strerror(errno);
}

// Full-length positioned I/O; short counts are errors.
bool preadAll(int fd, void* buf, size_t n, off_t off) {
    auto* p = static_cast<char*>(buf);
    while (n > 0) {
        ssize_t r = ::pread(fd, p, n, off);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
        off += r;
    }
    return true;
}
bool pwriteAll(int fd, const void* buf, size_t n, off_t off) {
    auto* p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t r = ::pwrite(fd, p, n, off);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
        off += r;
    }
    return true;
}

// The name a table is written under before its rename: ".NAME.new-" and six letters or
// digits.
constexpr std::string_view kTempMark = ".new-";
constexpr size_t kTempRandom = 6;

bool isTempName(std::string_view n) {
    const size_t tail = kTempMark.size() + kTempRandom;
    if (n.size() < 2 + tail || n[0] != '.' ||
        n.substr(n.size() - tail, kTempMark.size()) != kTempMark)
        return false;
    return std::all_of(n.end() - kTempRandom, n.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    });
}

// Creates the file name ends in six X's stand for, with the mode any new file of the user
// gets (0666 less the umask).
int createTempFile(std::string& name) {
    static constexpr char chars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 fallback{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char rnd[kTempRandom];
        if (::getrandom(rnd, sizeof rnd, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof rnd))
            for (auto& r : rnd)
                r = static_cast<unsigned char>(fallback());
        for (size_t i = 0; i < kTempRandom; ++i)
            name[name.size() - kTempRandom + i] = chars[rnd[i] % (sizeof chars - 1)];
        const int fd =
            ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// A creation killed before its rename leaves its temporary file behind. Those in the table's
// folder are removed, but only ours (our name pattern, our user) and only when no process
// holds the lock a creation keeps on it until the rename. Best effort: a leftover that
// cannot be removed costs only its room, so nothing is reported.
void removeLeftovers(const std::filesystem::path& table) {
    auto dir = table.parent_path();
    if (dir.empty()) dir = ".";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    const int dfd = ::dirfd(d);
    while (const dirent* e = ::readdir(d)) {
        if (!isTempName(e->d_name)) continue;
        const int fd = ::openat(dfd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_uid == ::geteuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dfd, e->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == held.st_dev && named.st_ino == held.st_ino)
            ::unlinkat(dfd, e->d_name, 0);
        ::close(fd);
    }
    ::closedir(d);
}

void syncDirectory(const std::filesystem::path& file) {
    auto dir = file.parent_path();
    if (dir.empty()) dir = ".";
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

int blockKiBFor(int recordSize, int requested) {
    if (requested != 0) {
        static const int ok[] = {1, 2, 3, 4, 8, 16, 32};
        if (std::find(std::begin(ok), std::end(ok), requested) == std::end(ok))
            throw Error("block size of " + std::to_string(requested) +
                        " KiB is not one of 1, 2, 3, 4, 8, 16, 32");
        return requested;
    }
    for (int kib : {4, 8, 16, 32}) {
        const std::uint64_t perBlock = static_cast<std::uint64_t>(kib * 1024 - kBlockHeader) /
                                       static_cast<std::uint64_t>(recordSize);
        if (perBlock * kMaxBlocks > kTargetRows) return kib;
    }
    return 32;
}

int checkedFieldSize(const Field& f, const std::string& where) {
    const int size = f.size;
    auto bad = [&](const std::string& why) {
        return Error(where + ": field \"" + f.name + "\" (" + typeLetter(f.type) + ") " + why);
    };
    switch (f.type) {
    case FieldType::Alpha:
    case FieldType::Bytes:
        if (size < 1 || size > 255) throw bad("has size " + std::to_string(size) + ", not 1..255");
        return size;
    case FieldType::Memo:
    case FieldType::Blob:
    case FieldType::FmtMemo:
    case FieldType::Ole:
    case FieldType::Graphic:
        if (size < 10 || size > 250)
            throw bad("has size " + std::to_string(size) + ", not 10..250");
        return size;
    case FieldType::Bcd:
        if (size < 0 || size > 32)
            throw bad("has " + std::to_string(size) + " decimal places, not 0..32");
        return 17;
    default:
        return storageSize(f);
    }
}

// True for the names of the index files Paradox keeps beside a table called base:
// base.PX (primary), base.Xnn / base.Ynn and base.XGn / base.YGn (secondary), any case.
bool isIndexFileOf(const std::string& name, const std::string& base) {
    if (name.size() <= base.size() + 1 || lower(name.substr(0, base.size())) != lower(base) ||
        name[base.size()] != '.')
        return false;
    const std::string ext = lower(name.substr(base.size() + 1));
    auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    if (ext == "px") return true;
    if (ext.size() != 3 || (ext[0] != 'x' && ext[0] != 'y')) return false;
    return (ext[1] == 'g' || hex(ext[1])) && hex(ext[2]);
}

// A table written without a key must not be paired with a stale index of an earlier
// table of that name, which other programs would trust.
void removeIndexFilesOf(const std::filesystem::path& table) {
    const std::string base = table.stem().string();
    auto dir = table.parent_path();
    if (dir.empty()) dir = ".";
    std::error_code ec;
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        names.push_back(entry.path());
    if (ec) throw Error(table.string() + ": cannot look for old index files: " + ec.message());
    // An index named in another case belongs to the table of its own name when that exists.
    auto ownedElsewhere = [&](const std::filesystem::path& index) {
        const std::string stem = index.stem().string();
        if (stem == base) return false;
        return std::any_of(names.begin(), names.end(), [&](const std::filesystem::path& p) {
            std::error_code e;
            return p.stem().string() == stem && lower(p.extension().string()) == ".db" &&
                   !std::filesystem::equivalent(p, table, e);
        });
    };
    std::vector<std::filesystem::path> stale;
    for (const auto& p : names)
        if (isIndexFileOf(p.filename().string(), base) && !ownedElsewhere(p)) stale.push_back(p);
    for (const auto& p : stale)
        if (!std::filesystem::remove(p, ec) && ec)
            throw Error(table.string() + ": cannot remove the old index file " + p.string() + ": " +
                        ec.message());
    if (!stale.empty()) syncDirectory(table);
}

} // namespace

struct BlockRef {
    std::uint16_t number;
    std::uint16_t rows;
    std::uint32_t firstRow;
};

struct Table::Impl {
    std::filesystem::path path;
    std::string where; // the file name as errors show it
    int fd = -1;
    bool writable = false;
    std::vector<unsigned char> header;
    std::vector<Field> fields;
    std::vector<int> offsets;
    int recordSize = 0;
    int headerSize = 0;
    int blockSize = 0;
    int version = 0;
    int fileType = 2;
    int keyFields = 0;
    int codePageNumber = 0;
    std::unique_ptr<CodePage> codePage;
    std::vector<BlockRef> blocks; // chain order
    std::uint32_t rows = 0;
    std::uint32_t fileBlocks = 0; // highest block number in use
    // The block the file ends inside (written only as far as its records reach), or 0.
    std::uint32_t shortBlock = 0;
    std::uint32_t autoInc = 0;

    // One cached block for sequential reads.
    mutable std::vector<unsigned char> cache;
    mutable int cachedBlock = 0;

    int syncIntervalMs = 200;
    std::chrono::steady_clock::time_point lastSync{};
    Table::SyncCall syncCall; // empty: fdatasync
    // Rows are counted as appended and as known durable; pending while they differ.
    std::uint64_t appended = 0;
    std::uint64_t durable = 0;

    // The background sync: the owner asks for one covering `target` appends and goes on;
    // the thread reports what it covered, or the errno of a failure for the owner to throw.
    // Failures are thrown once while the disk keeps failing (`failing`), not per retry, so
    // the window tells an outage once; a sync that succeeds ends it.
    struct Background {
        std::thread thread;
        std::mutex m;
        std::condition_variable wake, idle;
        bool stop = false;
        bool busy = false;
        std::uint64_t target = 0;
        std::uint64_t covered = 0;
        int failed = 0;
        bool failing = false;
    };
    std::unique_ptr<Background> bg;

    ~Impl() {
        stopBackground();
        if (fd >= 0) ::close(fd);
    }

    bool pending() const {
        std::uint64_t known = durable;
        if (bg) {
            std::lock_guard lock(bg->m);
            known = std::max(known, bg->covered);
        }
        return appended > known;
    }

    Error error(const std::string& what) const { return Error(where + ": " + what); }

    off_t blockOffset(std::uint32_t number) const {
        return static_cast<off_t>(headerSize) +
               static_cast<off_t>(number - 1) * static_cast<off_t>(blockSize);
    }
    std::uint32_t rowsPerBlock() const {
        return static_cast<std::uint32_t>((blockSize - kBlockHeader) / recordSize);
    }

    void parseHeader(off_t fileSize);
    void walkChain(off_t fileSize);
    void repairCounts();
    // The record's bytes, valid until the next read or write of this table.
    const unsigned char* record(std::uint32_t row) const;
    void readRecord(std::uint32_t row, std::vector<unsigned char>& rec) const {
        const unsigned char* p = record(row);
        rec.assign(p, p + recordSize);
    }
    Value decode(int field, const unsigned char* p) const;
    void encode(int field, const Value& v, unsigned char* p) const;
    void appendRecord(const unsigned char* rec);
    void writeHeaderCounts();
    int syncOnce() const { return syncCall ? syncCall(fd) : (::fdatasync(fd) == 0 ? 0 : errno); }
    Error syncError(int err) const {
        return error(std::string("cannot flush to disk: ") + std::strerror(err));
    }
    // Makes every write durable on this thread, after the background sync in flight.
    void sync();
    void startBackground();
    void stopBackground();
    void backgroundLoop();
    // Waits until no background sync is in flight and takes over what it covered.
    void waitIdle();
    // Throws the failure of a finished background sync, once.
    void throwFailure();
    void startSync();
};

// ---------------------------------------------------------------- header

void Table::Impl::parseHeader(off_t fileSize) {
    if (fileSize < kFieldInfoOld)
        throw error("file of " + std::to_string(fileSize) +
                    " bytes is too short to be a Paradox table");
    unsigned char fixed[kFieldInfo] = {};
    const size_t fixedLen = static_cast<size_t>(std::min<off_t>(fileSize, kFieldInfo));
    if (!preadAll(fd, fixed, fixedLen, 0)) throw error("cannot read the header: " + errnoText());

    recordSize = getU16(fixed + kRecordSize);
    headerSize = getU16(fixed + kHeaderSize);
    fileType = fixed[kFileType];
    const int kib = fixed[kMaxTableSize];
    version = fixed[kVersion];

    // Text, executables and the like fail these first, so they are not called index files.
    const bool knownType = fileType <= 8; // 0 and 2 tables, 1 and 3..8 index files
    if (!knownType || version < 3 || version > 0x0C)
        throw error("is not a Paradox table (file type " + std::to_string(fileType) + ", version " +
                    std::to_string(version) + ")");
    if (kib != 1 && kib != 2 && kib != 3 && kib != 4 && kib != 8 && kib != 16 && kib != 32)
        throw error("is not a Paradox table (block size code " + std::to_string(kib) +
                    " is invalid)");
    if (fileType == 1 || fileType > 2)
        throw error("is an index file (type " + std::to_string(fileType) + "), not a table");
    blockSize = kib * 1024;
    if (recordSize < 1 || recordSize > blockSize - kBlockHeader)
        throw error("record size " + std::to_string(recordSize) + " does not fit a block of " +
                    std::to_string(blockSize) + " bytes");
    const bool newLayout = version > 4;
    const int infoAt = newLayout ? kFieldInfo : kFieldInfoOld;
    if (headerSize < infoAt || headerSize > fileSize)
        throw error("header size " + std::to_string(headerSize) + " is invalid for a file of " +
                    std::to_string(fileSize) + " bytes");

    const std::uint32_t encryption =
        newLayout ? getU32(fixed + kEncryption2) : getU32(fixed + kEncryption1);
    if (encryption != 0) throw error("the table is encrypted; encrypted tables are not supported");

    header.assign(static_cast<size_t>(headerSize), 0);
    if (!preadAll(fd, header.data(), header.size(), 0))
        throw error("cannot read the header: " + errnoText());
    const unsigned char* h = header.data();

    const int numFields = static_cast<std::int16_t>(getU16(h + kNumFields));
    keyFields = static_cast<std::int16_t>(getU16(h + kKeyFields));
    if (numFields < 1 || numFields > 255)
        throw error("field count " + std::to_string(numFields) + " is invalid");
    if (keyFields < 0 || keyFields > numFields)
        throw error("key field count " + std::to_string(keyFields) + " is invalid");
    codePageNumber = newLayout ? getU16(h + kCodePage) : 0;
    autoInc = getU32(h + kAutoInc);

    size_t pos = static_cast<size_t>(infoAt);
    auto need = [&](size_t n, const char* what) {
        if (pos + n > header.size()) throw error(std::string("header ends inside the ") + what);
    };
    need(static_cast<size_t>(numFields) * 2, "field descriptors");
    fields.resize(static_cast<size_t>(numFields));
    int sum = 0;
    for (auto& f : fields) {
        const int code = h[pos], size = h[pos + 1];
        pos += 2;
        bool known = false;
        for (char c : std::string_view("ADSI$NLMBFOGT@+#Y"))
            if (static_cast<int>(typeFromLetter(c)) == code) known = true;
        if (!known) throw error("field type code " + std::to_string(code) + " is unknown");
        f.type = static_cast<FieldType>(code);
        f.size = size;
        const int stored = f.type == FieldType::Bcd ? 17 : size;
        if (f.type == FieldType::Bcd) {
            if (size > 32) throw error("BCD field with " + std::to_string(size) + " decimals");
        } else if (isBlobType(f.type) && f.type != FieldType::Bytes) {
            if (size < 10) throw error("memo or blob field of size " + std::to_string(size));
        } else if (size != storageSize(f) || size == 0) {
            throw error(std::string("field of type ") + typeLetter(f.type) + " has size " +
                        std::to_string(size));
        }
        offsets.push_back(sum);
        sum += stored;
    }
    if (sum != recordSize)
        throw error("fields take " + std::to_string(sum) + " bytes but records are " +
                    std::to_string(recordSize));

    // Table name pointer, field name pointers, table name.
    const size_t nameLen = version >= 0x0C ? 261 : 79;
    need(4 + static_cast<size_t>(numFields) * 4 + nameLen, "table name");
    pos += 4 + static_cast<size_t>(numFields) * 4 + nameLen;
    std::vector<std::string> rawNames;
    for (int i = 0; i < numFields; ++i) {
        const auto* start = h + pos;
        const auto* end =
            static_cast<const unsigned char*>(std::memchr(start, 0, header.size() - pos));
        if (!end) throw error("header ends inside the field names");
        rawNames.emplace_back(reinterpret_cast<const char*>(start),
                              static_cast<size_t>(end - start));
        pos += static_cast<size_t>(end - start) + 1;
    }
    // Field numbers, then the sort order name (absent in some files).
    std::string sortOrder;
    if (pos + static_cast<size_t>(numFields) * 2 < header.size()) {
        pos += static_cast<size_t>(numFields) * 2;
        const auto* start = h + pos;
        const auto* end = static_cast<const unsigned char*>(
            std::memchr(start, 0, std::min<size_t>(header.size() - pos, 64)));
        if (end)
            sortOrder.assign(reinterpret_cast<const char*>(start),
                             static_cast<size_t>(end - start));
    }
    codePage = std::make_unique<CodePage>(codePageNumber, sortOrder);
    for (size_t i = 0; i < fields.size(); ++i)
        fields[i].name = codePage->toUtf8(rawNames[i]);
}

// ---------------------------------------------------------------- chain

void Table::Impl::walkChain(off_t fileSize) {
    const unsigned char* h = header.data();
    const std::uint32_t headerRows = getU32(h + kNumRecords);
    const std::uint32_t first = getU16(h + kFirstBlock);
    fileBlocks = getU16(h + kFileBlocks);
    const off_t physical = (fileSize - headerSize) / blockSize;
    const off_t tail = (fileSize - headerSize) % blockSize;
    blocks.clear();
    rows = 0;
    shortBlock = 0;
    std::vector<bool> seen(kMaxBlocks + 1, false);
    std::uint32_t number = (headerRows == 0 && fileBlocks == 0) ? 0 : first;
    std::uint32_t highest = 0;
    const std::uint32_t perBlock = rowsPerBlock();
    while (number != 0) {
        // Some writers end the file after the last block's records.
        const bool isShort = static_cast<off_t>(number) == physical + 1 && tail >= kBlockHeader;
        if (static_cast<off_t>(number) > physical && !isShort)
            throw error("block " + std::to_string(number) + " lies beyond the end of the file");
        if (seen[number])
            throw error("the block chain loops back to block " + std::to_string(number));
        seen[number] = true;
        unsigned char bh[kBlockHeader];
        if (!preadAll(fd, bh, sizeof bh, blockOffset(number)))
            throw error("cannot read block " + std::to_string(number) + ": " + errnoText());
        const int add = static_cast<std::int16_t>(getU16(bh + 4));
        std::uint32_t count = 0;
        if (add >= 0) {
            if (add % recordSize != 0)
                throw error("block " + std::to_string(number) + " holds " +
                            std::to_string(add + recordSize) +
                            " bytes of records, not a multiple of the record size");
            count = static_cast<std::uint32_t>(add / recordSize) + 1;
            if (count > perBlock)
                throw error("block " + std::to_string(number) + " claims " + std::to_string(count) +
                            " records, more than a block holds");
        }
        if (isShort) {
            const off_t whole = (tail - kBlockHeader) / recordSize;
            if (whole < static_cast<off_t>(count))
                throw error("the file ends inside block " + std::to_string(number) +
                            ", which holds " + std::to_string(whole) + " whole records of the " +
                            std::to_string(count) + " its header counts");
            shortBlock = number;
        }
        blocks.push_back(
            {static_cast<std::uint16_t>(number), static_cast<std::uint16_t>(count), rows});
        rows += count;
        highest = std::max(highest, number);
        number = getU16(bh);
    }
    // Rows are written before the header counts them, so a crash may leave one more row
    // in the blocks than the header says; fewer rows than the header counts is damage.
    if (rows < headerRows)
        throw error("the header counts " + rowsText(headerRows) + " but the blocks hold " +
                    std::to_string(rows));
    fileBlocks = std::max(fileBlocks, highest);
}

void Table::Impl::repairCounts() {
    const unsigned char* h = header.data();
    const std::uint32_t last = blocks.empty() ? 0 : blocks.back().number;
    if (getU32(h + kNumRecords) == rows && getU16(h + kFileBlocks) == fileBlocks &&
        getU16(h + kLastBlock) == last)
        return;
    writeHeaderCounts();
    sync();
}

void Table::Impl::writeHeaderCounts() {
    unsigned char* h = header.data();
    const std::uint32_t last = blocks.empty() ? 0 : blocks.back().number;
    putU32(h + kNumRecords, rows);
    putU16(h + kNextBlock, fileBlocks);
    putU16(h + kFileBlocks, fileBlocks);
    putU16(h + kFirstBlock, blocks.empty() ? 0 : blocks.front().number);
    putU16(h + kLastBlock, last);
    if (!pwriteAll(fd, h + kNumRecords, kLastBlock + 2 - kNumRecords, kNumRecords))
        throw error("cannot write the header: " + errnoText());
    if (version > 4) {
        putU16(h + kMaxBlocksField, fileBlocks);
        putU32(h + kAutoInc, autoInc);
        if (!pwriteAll(fd, h + kMaxBlocksField, 2, kMaxBlocksField) ||
            !pwriteAll(fd, h + kAutoInc, 4, kAutoInc))
            throw error("cannot write the header: " + errnoText());
    }
}

void Table::Impl::sync() {
    // A failure of the sync in flight needs no telling: this one retries what it missed.
    waitIdle();
    const int err = syncOnce();
    if (bg) {
        std::lock_guard lock(bg->m);
        bg->failed = 0;
        bg->failing = err != 0;
    }
    if (err != 0) throw syncError(err);
    durable = appended;
    lastSync = std::chrono::steady_clock::now();
}

void Table::Impl::startBackground() {
    if (bg) return;
    bg = std::make_unique<Background>();
    bg->covered = durable;
    try {
        bg->thread = std::thread([this] { backgroundLoop(); });
    } catch (const std::system_error&) {
        bg.reset(); // no thread to be had: the syncs stay on the caller's thread
    }
}

void Table::Impl::stopBackground() {
    if (!bg) return;
    {
        std::lock_guard lock(bg->m);
        bg->stop = true;
    }
    bg->wake.notify_one();
    bg->thread.join();
    durable = std::max(durable, bg->covered);
    bg.reset();
}

void Table::Impl::backgroundLoop() {
    std::unique_lock lock(bg->m);
    for (;;) {
        bg->wake.wait(lock, [this] { return bg->stop || bg->busy; });
        if (!bg->busy) return;
        const std::uint64_t target = bg->target;
        lock.unlock();
        const int err = syncOnce();
        lock.lock();
        if (err != 0 && !bg->failing) bg->failed = err;
        if (err == 0) bg->covered = std::max(bg->covered, target);
        bg->failing = err != 0;
        bg->busy = false;
        bg->idle.notify_all();
    }
}

void Table::Impl::waitIdle() {
    if (!bg) return;
    std::unique_lock lock(bg->m);
    bg->idle.wait(lock, [this] { return !bg->busy; });
    durable = std::max(durable, bg->covered);
}

void Table::Impl::throwFailure() {
    if (!bg) return;
    int err = 0;
    {
        std::lock_guard lock(bg->m);
        std::swap(err, bg->failed);
    }
    if (err != 0) throw syncError(err);
}

void Table::Impl::startSync() {
    if (!bg) {
        if (pending()) sync();
        return;
    }
    {
        std::lock_guard lock(bg->m);
        // The sync in flight covers what was written before it started; the rest waits.
        if (bg->busy) return;
        durable = std::max(durable, bg->covered);
        if (appended == durable) return;
        bg->busy = true;
        bg->target = appended;
    }
    lastSync = std::chrono::steady_clock::now();
    bg->wake.notify_one();
}

// ---------------------------------------------------------------- records

const unsigned char* Table::Impl::record(std::uint32_t row) const {
    if (row >= rows)
        throw error("row " + std::to_string(row) + " is past the last row (" + rowsText(rows) +
                    ")");
    auto it = std::upper_bound(blocks.begin(), blocks.end(), row,
                               [](std::uint32_t r, const BlockRef& b) { return r < b.firstRow; });
    --it;
    const auto& b = *it;
    const size_t at = kBlockHeader + static_cast<size_t>(row - b.firstRow) * recordSize;
    if (cachedBlock != b.number) {
        cache.assign(static_cast<size_t>(blockSize), 0);
        cachedBlock = 0;
        // The short block is read as far as the file goes; its records all lie within.
        size_t length = cache.size();
        if (b.number == shortBlock)
            length = kBlockHeader + static_cast<size_t>(b.rows) * static_cast<size_t>(recordSize);
        if (!preadAll(fd, cache.data(), length, blockOffset(b.number)))
            throw error("cannot read block " + std::to_string(b.number) + ": " + errnoText());
        cachedBlock = b.number;
    }
    return cache.data() + at;
}

Value Table::Impl::decode(int field, const unsigned char* p) const {
    const Field& f = fields[static_cast<size_t>(field)];
    const int n = f.type == FieldType::Bcd ? 17 : f.size;
    switch (f.type) {
    case FieldType::Alpha: {
        const auto* end =
            static_cast<const unsigned char*>(std::memchr(p, 0, static_cast<size_t>(n)));
        const size_t len = end ? static_cast<size_t>(end - p) : static_cast<size_t>(n);
        if (len == 0) return Null{};
        return codePage->toUtf8(std::string_view(reinterpret_cast<const char*>(p), len));
    }
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::AutoInc:
    case FieldType::Date:
    case FieldType::Time: {
        const std::uint64_t raw = getBE(p, n);
        if (raw == 0) return Null{};
        const std::uint64_t signBit = std::uint64_t{1} << (8 * n - 1);
        const std::uint64_t flipped = raw ^ signBit;
        std::int64_t v = static_cast<std::int64_t>(flipped);
        if (flipped & signBit) v -= static_cast<std::int64_t>(signBit << 1);
        if (f.type == FieldType::Date) return Date{static_cast<std::int32_t>(v)};
        if (f.type == FieldType::Time) return TimeOfDay{static_cast<std::int32_t>(v)};
        return v;
    }
    case FieldType::Number:
    case FieldType::Currency:
    case FieldType::Timestamp: {
        std::uint64_t raw = getBE(p, 8);
        if (raw == 0) return Null{};
        raw = (raw & 0x8000'0000'0000'0000ull) ? raw & 0x7FFF'FFFF'FFFF'FFFFull : ~raw;
        const double d = std::bit_cast<double>(raw);
        if (f.type == FieldType::Timestamp) return Timestamp{d};
        return d;
    }
    case FieldType::Logical:
        if (p[0] == 0) return Null{};
        return p[0] != 0x80;
    case FieldType::Bcd: {
        if (allZero(p, 17)) return Null{};
        const bool positive = (p[0] & 0x80) != 0;
        const int decimals = std::min(p[0] & 0x3F, 32);
        std::string text = positive ? "" : "-";
        for (int i = 0; i < 32; ++i) {
            int nib = (p[1 + i / 2] >> (i % 2 ? 0 : 4)) & 0x0F;
            if (!positive) nib = 15 - nib;
            if (i == 32 - decimals) text += '.';
            // Some writers leave noise past the significant digits.
            text += static_cast<char>('0' + std::min(nib, 9));
        }
        double d = 0;
        const char* b = text.data();
        if (*b == '-') ++b;
        std::from_chars(b, text.data() + text.size(), d);
        return positive ? d : -d;
    }
    case FieldType::Bytes:
        if (allZero(p, n)) return Null{};
        return BlobSize{static_cast<std::uint32_t>(n)};
    default: { // memo and blob fields: leader, then offset, length, modification number
        const std::uint32_t length = getU32(p + n - 6);
        if (length == 0) return Null{};
        return BlobSize{length};
    }
    }
}

void Table::Impl::encode(int field, const Value& v, unsigned char* p) const {
    const Field& f = fields[static_cast<size_t>(field)];
    const int n = f.type == FieldType::Bcd ? 17 : f.size;
    std::memset(p, 0, static_cast<size_t>(n));
    if (isNull(v)) return;
    auto mismatch = [&]() {
        return error(std::string("value of the wrong kind for field \"") + f.name + "\" (" +
                     typeLetter(f.type) + ")");
    };
    auto asDouble = [&](double& d) {
        if (auto* x = std::get_if<double>(&v))
            d = *x;
        else if (auto* i = std::get_if<std::int64_t>(&v))
            d = static_cast<double>(*i);
        else
            throw mismatch();
    };
    auto putInt = [&](std::int64_t x, std::int64_t limit) {
        if (x < -limit || x > limit)
            throw error("value " + std::to_string(x) + " is out of range for field \"" + f.name +
                        "\"");
        const std::uint64_t signBit = std::uint64_t{1} << (8 * n - 1);
        putBE(p, n, (static_cast<std::uint64_t>(x) ^ signBit) & ((signBit << 1) - 1));
    };
    switch (f.type) {
    case FieldType::Alpha: {
        auto* s = std::get_if<std::string>(&v);
        if (!s) throw mismatch();
        std::string bytes;
        if (!codePage->fromUtf8(*s, bytes))
            throw error("text \"" + *s + "\" for field \"" + f.name +
                        "\" has characters that code page " + codePage->name() + " cannot hold");
        if (bytes.size() > static_cast<size_t>(n))
            throw error("text \"" + *s + "\" is longer than the " + std::to_string(n) +
                        " bytes of field \"" + f.name + "\"");
        if (bytes.find('\0') != std::string::npos)
            throw error("text for field \"" + f.name + "\" contains a NUL character");
        std::memcpy(p, bytes.data(), bytes.size());
        return;
    }
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::AutoInc: {
        auto* i = std::get_if<std::int64_t>(&v);
        if (!i) throw mismatch();
        putInt(*i, f.type == FieldType::Short ? 32767 : 2147483647);
        return;
    }
    case FieldType::Date: {
        auto* d = std::get_if<Date>(&v);
        if (!d) throw mismatch();
        putInt(d->days, 2147483647);
        return;
    }
    case FieldType::Time: {
        auto* t = std::get_if<TimeOfDay>(&v);
        if (!t) throw mismatch();
        if (t->ms < 0 || t->ms >= 86'400'000)
            throw error("time of day " + std::to_string(t->ms) + " ms is out of range");
        putInt(t->ms, 2147483647);
        return;
    }
    case FieldType::Number:
    case FieldType::Currency:
    case FieldType::Timestamp: {
        double d = 0;
        if (f.type == FieldType::Timestamp) {
            auto* t = std::get_if<Timestamp>(&v);
            if (!t) throw mismatch();
            d = t->ms;
        } else {
            asDouble(d);
        }
        std::uint64_t raw = std::bit_cast<std::uint64_t>(d);
        raw = (raw & 0x8000'0000'0000'0000ull) ? ~raw : raw | 0x8000'0000'0000'0000ull;
        if (raw == 0) throw error("value for field \"" + f.name + "\" cannot be stored");
        putBE(p, 8, raw);
        return;
    }
    case FieldType::Logical: {
        auto* b = std::get_if<bool>(&v);
        if (!b) throw mismatch();
        p[0] = *b ? 0x81 : 0x80;
        return;
    }
    case FieldType::Bcd: {
        double d = 0;
        asDouble(d);
        if (!std::isfinite(d)) throw error("value for BCD field \"" + f.name + "\" is not finite");
        const int decimals = f.size;
        char buf[400];
        auto r =
            std::to_chars(buf, buf + sizeof buf, std::fabs(d), std::chars_format::fixed, decimals);
        if (r.ec != std::errc()) throw error("value for BCD field \"" + f.name + "\" too large");
        std::string digits;
        for (const char* c = buf; c != r.ptr; ++c)
            if (*c != '.') digits += *c;
        while (digits.size() > 1 && digits[0] == '0')
            digits.erase(0, 1);
        if (digits.size() > 32)
            throw error("value " + formatNumber(d) + " has too many digits for BCD field \"" +
                        f.name + "\"");
        const bool negative = d < 0 && digits.find_first_not_of('0') != std::string::npos;
        digits.insert(0, 32 - digits.size(), '0');
        p[0] = static_cast<unsigned char>((negative ? 0 : 0x80) | 0x40 | decimals);
        for (int i = 0; i < 32; ++i) {
            int nib = digits[static_cast<size_t>(i)] - '0';
            if (negative) nib = 15 - nib;
            p[1 + i / 2] |= static_cast<unsigned char>(nib << (i % 2 ? 0 : 4));
        }
        return;
    }
    default:
        throw error("field \"" + f.name + "\" (" + typeLetter(f.type) +
                    ") cannot be written: memo, blob and bytes fields are read-only here");
    }
}

void Table::Impl::appendRecord(const unsigned char* rec) {
    if (shortBlock != 0) {
        // Whole blocks again before anything is written after the short one.
        if (::ftruncate(fd, blockOffset(shortBlock) + blockSize) != 0)
            throw error("cannot extend block " + std::to_string(shortBlock) + ": " + errnoText());
        shortBlock = 0;
    }
    if (!blocks.empty() && blocks.back().rows < rowsPerBlock()) {
        // Room in the last block: the record, then the block's count, then the header.
        BlockRef& b = blocks.back();
        const off_t at =
            blockOffset(b.number) + kBlockHeader + static_cast<off_t>(b.rows) * recordSize;
        if (!pwriteAll(fd, rec, static_cast<size_t>(recordSize), at))
            throw error("cannot write a row: " + errnoText());
        unsigned char add[2];
        putU16(add, static_cast<std::uint32_t>(b.rows) * static_cast<std::uint32_t>(recordSize));
        if (!pwriteAll(fd, add, 2, blockOffset(b.number) + 4))
            throw error("cannot write a block header: " + errnoText());
        if (cachedBlock == b.number) {
            // The block as read stays true with the row put in: the row just recorded is
            // read back for the grid, and reading its block again cost a read per row.
            std::memcpy(cache.data() + (at - blockOffset(b.number)), rec,
                        static_cast<size_t>(recordSize));
            std::memcpy(cache.data() + 4, add, 2);
        }
        ++b.rows;
    } else {
        if (fileBlocks >= kMaxBlocks)
            throw error("table is full (" + rowsText(rows) + " in " + std::to_string(kMaxBlocks) +
                        " blocks)");
        // A new block, complete with its record, then the link to it, then the header.
        const std::uint32_t number = fileBlocks + 1;
        const std::uint32_t prev = blocks.empty() ? 0 : blocks.back().number;
        std::vector<unsigned char> block(static_cast<size_t>(blockSize), 0);
        putU16(block.data() + 2, prev);
        std::memcpy(block.data() + kBlockHeader, rec, static_cast<size_t>(recordSize));
        if (!pwriteAll(fd, block.data(), block.size(), blockOffset(number)))
            throw error("cannot write a new block: " + errnoText());
        if (prev != 0) {
            unsigned char link[2];
            putU16(link, number);
            if (!pwriteAll(fd, link, 2, blockOffset(prev)))
                throw error("cannot link a new block: " + errnoText());
            if (cachedBlock == static_cast<int>(prev)) cachedBlock = 0;
        }
        blocks.push_back({static_cast<std::uint16_t>(number), 1, rows});
        fileBlocks = number;
    }
    ++rows;
    writeHeaderCounts();
}

// ---------------------------------------------------------------- Table

Table::Table() = default;
Table::~Table() {
    try {
        close();
    } catch (...) {
        // Nothing to report to from a destructor; close() reports to callers that ask.
    }
}
Table::Table(Table&&) noexcept = default;
Table& Table::operator=(Table&& o) noexcept {
    if (this != &o) {
        try {
            close();
        } catch (...) {
        }
        d = std::move(o.d);
    }
    return *this;
}

static std::unique_ptr<Table::Impl> openFile(const std::filesystem::path& path, bool write,
                                             bool create);

Table Table::open(const std::filesystem::path& path, OpenMode mode) {
    Table t;
    t.d = openFile(path, mode == OpenMode::ReadWrite, false);
    if (mode == OpenMode::ReadWrite) removeLeftovers(path);
    auto& im = *t.d;
    struct stat st {};
    if (::fstat(im.fd, &st) != 0) throw im.error("cannot stat: " + errnoText());
    if (!S_ISREG(st.st_mode)) throw im.error("is not a regular file");
    im.parseHeader(st.st_size);
    im.walkChain(st.st_size);
    if (im.writable) im.repairCounts();
    return t;
}

static std::unique_ptr<Table::Impl> openFile(const std::filesystem::path& path, bool write,
                                             bool create) {
    auto im = std::make_unique<Table::Impl>();
    im->path = path;
    im->where = path.string();
    im->writable = write;
    // Without blocking: a FIFO or a device named like a table must be refused at once, not
    // hang the open. A table opened for writing is never reached through a symbolic link,
    // which could point anywhere (another user's choice of where we write).
    int flags = (write ? O_RDWR | O_NOFOLLOW : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
    if (create) flags |= O_CREAT;
    im->fd = ::open(path.c_str(), flags, 0644);
    if (im->fd < 0) {
        if (write && errno == ELOOP)
            throw im->error("is a symbolic link; a table is never written through one");
        throw im->error("cannot open: " + errnoText());
    }
    struct stat st {};
    if (::fstat(im->fd, &st) != 0) throw im->error("cannot stat: " + errnoText());
    if (!S_ISREG(st.st_mode)) throw im->error("is not a regular file");
    ::fcntl(im->fd, F_SETFL, ::fcntl(im->fd, F_GETFL) & ~O_NONBLOCK);
    if (write && ::flock(im->fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            throw InUseError(im->error("the table is already open for writing by another "
                                       "program or window")
                                 .what());
        throw im->error("cannot lock: " + errnoText());
    }
    return im;
}

Table Table::create(const std::filesystem::path& path, const std::vector<Field>& fieldsIn,
                    const CreateOptions& options) {
    const std::string where = path.string();
    if (fieldsIn.empty() || fieldsIn.size() > 255)
        throw Error(where + ": a table needs 1 to 255 fields");
    auto cp = std::make_unique<CodePage>(options.codePage, "");
    std::vector<Field> fields = fieldsIn;
    int recordSize = 0;
    std::vector<std::string> rawNames;
    for (size_t i = 0; i < fields.size(); ++i) {
        auto& f = fields[i];
        const int stored = checkedFieldSize(f, where);
        if (f.type != FieldType::Bcd && !isBlobType(f.type) && f.type != FieldType::Alpha)
            f.size = stored;
        recordSize += stored;
        std::string raw;
        if (f.name.empty() || f.name.size() > 25 || !cp->fromUtf8(f.name, raw) ||
            raw.find('\0') != std::string::npos)
            throw Error(where + ": field name \"" + f.name + "\" is not 1..25 characters");
        for (size_t j = 0; j < i; ++j)
            if (lower(fields[j].name) == lower(f.name))
                throw Error(where + ": field name \"" + f.name + "\" occurs twice");
        rawNames.push_back(raw);
    }
    if (recordSize > 32 * 1024 - kBlockHeader)
        throw Error(where + ": records of " + std::to_string(recordSize) + " bytes are too long");
    const int kib = blockKiBFor(recordSize, options.blockKiB);
    if (recordSize > kib * 1024 - kBlockHeader)
        throw Error(where + ": records of " + std::to_string(recordSize) +
                    " bytes do not fit a block of " + std::to_string(kib) + " KiB");

    // Header body: descriptors, pointers, table name, field names, numbers, sort order.
    std::vector<unsigned char> body;
    for (const auto& f : fields) {
        body.push_back(static_cast<unsigned char>(f.type));
        body.push_back(static_cast<unsigned char>(f.size));
    }
    body.insert(body.end(), 4 + fields.size() * 4, 0);
    std::string tableName = path.filename().string().substr(0, 260);
    std::string rawTable;
    if (!cp->fromUtf8(tableName, rawTable)) rawTable = "table.db";
    rawTable.resize(261, '\0');
    body.insert(body.end(), rawTable.begin(), rawTable.end());
    for (const auto& n : rawNames) {
        body.insert(body.end(), n.begin(), n.end());
        body.push_back(0);
    }
    for (size_t i = 0; i < fields.size(); ++i) {
        body.push_back(static_cast<unsigned char>(i + 1));
        body.push_back(static_cast<unsigned char>((i + 1) >> 8));
    }
    const std::string sortOrder = "ascii";
    body.insert(body.end(), sortOrder.begin(), sortOrder.end());
    body.push_back(0);
    size_t headerSize = 0x800;
    while (kFieldInfo + body.size() > headerSize)
        headerSize += 0x800;
    if (headerSize > 0xF800) throw Error(where + ": header too large");

    std::vector<unsigned char> h(headerSize, 0);
    putU16(&h[kRecordSize], static_cast<std::uint32_t>(recordSize));
    putU16(&h[kHeaderSize], static_cast<std::uint32_t>(headerSize));
    h[kFileType] = 2;
    h[kMaxTableSize] = static_cast<unsigned char>(kib);
    putU16(&h[kNumFields], static_cast<std::uint32_t>(fields.size()));
    h[0x3E] = 0x1F; // values every table of this version carries
    h[0x3F] = 0x0F;
    h[0x56] = 0x20;
    h[kVersion] = kOurVersion;
    putU16(&h[0x58], 0x010C);
    putU16(&h[0x5A], 0x010C);
    putU16(&h[0x64], static_cast<std::uint32_t>(fields.size() + 1));
    putU16(&h[kCodePage], static_cast<std::uint32_t>(options.codePage));
    std::copy(body.begin(), body.end(), h.begin() + kFieldInfo);

    // What the new table replaces: never a symbolic link or anything but a regular file,
    // and never a table open elsewhere for writing (held locked until the rename).
    std::unique_ptr<Impl> old;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            throw Error(where + ": is a symbolic link; a table is never written through one");
        old = openFile(path, true, false);
    } else if (errno != ENOENT) {
        throw Error(where + ": cannot stat: " + errnoText());
    }

    // Written under a temporary name in the same folder and renamed into place once the
    // header is on disk: a crash or a full disk leaves either no table or a whole one.
    std::filesystem::path dir = path.parent_path();
    std::string temp = ((dir.empty() ? std::filesystem::path(".") : dir) /
                        ("." + path.filename().string() + ".new-XXXXXX"))
                           .string();
    Table t;
    t.d = std::make_unique<Impl>();
    auto& im = *t.d;
    im.path = path;
    im.where = where;
    im.writable = true;
    removeLeftovers(path);
    for (;;) {
        im.fd = createTempFile(temp);
        if (im.fd < 0) throw im.error("cannot create the new table: " + errnoText());
        // Locked at once and checked to be still linked: a sweep in another process may
        // have removed the name between its creation and our lock.
        struct stat tst {};
        if (::flock(im.fd, LOCK_EX) != 0 || ::fstat(im.fd, &tst) != 0) {
            ::unlink(temp.c_str());
            throw im.error("cannot create the new table: " + errnoText());
        }
        if (tst.st_nlink > 0) break;
        ::close(im.fd);
    }
    struct Unlink {
        const std::string& name;
        bool keep = false;
        ~Unlink() {
            if (!keep) ::unlink(name.c_str());
        }
    } cleanup{temp};
    if (!pwriteAll(im.fd, h.data(), h.size(), 0) || ::fsync(im.fd) != 0)
        throw im.error("cannot write the new table: " + errnoText());
    if (::rename(temp.c_str(), path.c_str()) != 0)
        throw im.error("cannot put the new table in place: " + errnoText());
    cleanup.keep = true;
    old.reset();
    syncDirectory(path);
    im.parseHeader(static_cast<off_t>(h.size()));
    im.walkChain(static_cast<off_t>(h.size()));
    return t;
}

void Table::close() {
    if (!d) return;
    auto im = std::move(d);
    im->stopBackground();
    if (im->writable && im->pending()) im->sync();
}

bool Table::isOpen() const {
    return d != nullptr;
}
bool Table::writable() const {
    return d && d->writable;
}

static Table::Impl& need(const std::unique_ptr<Table::Impl>& d) {
    if (!d) throw Error("the table is not open");
    return *d;
}

const std::filesystem::path& Table::path() const {
    return need(d).path;
}
const std::vector<Field>& Table::fields() const {
    return need(d).fields;
}

int Table::fieldIndex(std::string_view name) const {
    const auto& f = need(d).fields;
    const std::string key = lower(name);
    for (size_t i = 0; i < f.size(); ++i)
        if (lower(f[i].name) == key) return static_cast<int>(i);
    return -1;
}

int Table::requireField(std::string_view name) const {
    const int i = fieldIndex(name);
    if (i < 0) throw d->error("has no field named \"" + std::string(name) + "\"");
    return i;
}

std::uint32_t Table::rowCount() const {
    return need(d).rows;
}

std::vector<Value> Table::readRow(std::uint32_t i) const {
    auto& im = need(d);
    const unsigned char* rec = im.record(i);
    std::vector<Value> out;
    out.reserve(im.fields.size());
    for (size_t f = 0; f < im.fields.size(); ++f)
        out.push_back(im.decode(static_cast<int>(f), rec + im.offsets[f]));
    return out;
}

Value Table::readValue(std::uint32_t row, int field) const {
    auto& im = need(d);
    if (field < 0 || static_cast<size_t>(field) >= im.fields.size())
        throw im.error("field number " + std::to_string(field) + " does not exist");
    return im.decode(field, im.record(row) + im.offsets[static_cast<size_t>(field)]);
}

std::vector<Value> Table::blankRow() const {
    return std::vector<Value>(need(d).fields.size());
}

void Table::setField(std::vector<Value>& row, std::string_view name, Value v) const {
    const int i = requireField(name);
    if (row.size() != d->fields.size()) row.resize(d->fields.size());
    row[static_cast<size_t>(i)] = std::move(v);
}

void Table::appendRow(const std::vector<Value>& row) {
    auto& im = need(d);
    if (!im.writable) throw im.error("the table is open read-only");
    if (hasPrimaryIndex())
        throw im.error("the table has a primary index; rows appended out of key order would "
                       "corrupt it, so appending is refused");
    im.throwFailure();
    if (row.size() != im.fields.size())
        throw im.error("a row of " + std::to_string(row.size()) + " values for " +
                       std::to_string(im.fields.size()) + " fields");
    std::vector<unsigned char> rec(static_cast<size_t>(im.recordSize), 0);
    std::uint32_t autoInc = im.autoInc;
    for (size_t f = 0; f < im.fields.size(); ++f) {
        unsigned char* p = rec.data() + im.offsets[f];
        if (im.fields[f].type == FieldType::AutoInc && isNull(row[f])) {
            if (autoInc >= 2147483647u) throw im.error("autoincrement counter is exhausted");
            im.encode(static_cast<int>(f), Value{static_cast<std::int64_t>(autoInc + 1)}, p);
            ++autoInc;
            continue;
        }
        im.encode(static_cast<int>(f), row[f], p);
        if (auto* i = std::get_if<std::int64_t>(&row[f]);
            i && im.fields[f].type == FieldType::AutoInc && *i > autoInc)
            autoInc = static_cast<std::uint32_t>(*i);
    }
    const std::uint32_t oldAutoInc = im.autoInc;
    im.autoInc = autoInc;
    try {
        im.appendRecord(rec.data());
    } catch (...) {
        im.autoInc = oldAutoInc;
        throw;
    }
    ++im.appended;
    const auto now = std::chrono::steady_clock::now();
    if (im.syncIntervalMs <= 0 || now - im.lastSync >= std::chrono::milliseconds(im.syncIntervalMs))
        im.startSync();
}

void Table::flush() {
    auto& im = need(d);
    if (!im.writable) return;
    im.waitIdle();
    im.throwFailure();
    if (im.pending()) im.sync();
}

void Table::startFlush() {
    auto& im = need(d);
    if (!im.writable) return;
    im.throwFailure();
    im.startSync();
}

bool Table::flushPending() const {
    return d && d->pending();
}

void Table::setSyncInterval(int ms) {
    need(d).syncIntervalMs = ms;
}

void Table::setBackgroundSync(bool on) {
    auto& im = need(d);
    if (!im.writable) return;
    if (on)
        im.startBackground();
    else
        im.stopBackground();
}

void Table::setSyncCall(SyncCall call) {
    auto& im = need(d);
    im.waitIdle(); // the thread reads it only while a sync is asked for
    im.syncCall = std::move(call);
}

void Table::emptyTable() {
    auto& im = need(d);
    if (!im.writable) throw im.error("the table is open read-only");
    if (hasPrimaryIndex())
        throw im.error("the table has a primary index; emptying it without its index file "
                       "would leave that index pointing at rows that are gone, so it is refused");
    // The rows a sync in flight covers are about to go; so is its failure to cover them.
    im.waitIdle();
    // Counts first, so a crash in between leaves an empty table, never a short chain.
    im.blocks.clear();
    im.rows = 0;
    im.fileBlocks = 0;
    im.shortBlock = 0;
    im.cachedBlock = 0;
    im.writeHeaderCounts();
    if (::ftruncate(im.fd, im.headerSize) != 0) throw im.error("cannot truncate: " + errnoText());
    im.sync();
}

bool Table::hasPrimaryIndex() const {
    auto& im = need(d);
    return im.fileType == 0 || im.keyFields > 0;
}

int Table::codePage() const {
    return need(d).codePageNumber;
}
int Table::blockSize() const {
    return need(d).blockSize;
}

std::uint64_t Table::capacity() const {
    return static_cast<std::uint64_t>(need(d).rowsPerBlock()) * kMaxBlocks;
}

void Table::copyTo(const std::filesystem::path& dest) const {
    auto& im = need(d);
    std::error_code ec;
    if (std::filesystem::equivalent(im.path, dest, ec))
        throw im.error("cannot copy a table onto itself");
    CreateOptions opt;
    opt.codePage = im.codePageNumber == 0 ? 1252 : im.codePageNumber;
    opt.blockKiB = blockKiBFor(im.recordSize, 0);
    Table out = create(dest, im.fields, opt);
    auto& om = *out.d;
    om.syncIntervalMs = 1 << 30;
    // Records are copied as they are, except alpha texts when the code pages differ
    // (a table without a code page number is written as 1252).
    const bool recode = im.codePage->name() != om.codePage->name();
    try {
        std::vector<unsigned char> rec;
        for (std::uint32_t r = 0; r < im.rows; ++r) {
            im.readRecord(r, rec);
            for (size_t f = 0; f < im.fields.size(); ++f) {
                const FieldType type = im.fields[f].type;
                unsigned char* p = rec.data() + im.offsets[f];
                if (isBlobType(type) && type != FieldType::Bytes &&
                    !isNull(im.decode(static_cast<int>(f), p)))
                    throw im.error("row " + std::to_string(r + 1) + ": field \"" +
                                   im.fields[f].name + "\" (" + typeLetter(type) +
                                   ") holds data in a memo file, which cannot be copied");
                if (recode && type == FieldType::Alpha)
                    om.encode(static_cast<int>(f), im.decode(static_cast<int>(f), p), p);
            }
            om.appendRecord(rec.data());
        }
        om.autoInc = im.autoInc;
        om.writeHeaderCounts();
        om.sync();
        out.close();
        removeIndexFilesOf(dest);
    } catch (...) {
        out = Table();
        std::filesystem::remove(dest, ec);
        throw;
    }
}

} // namespace rd780::paradox
