#include "record/TableExport.h"

#include "app/Guard.h"
#include "record/ReadingTable.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace rd780 {

namespace {

// Writes through a fixed buffer so a million rows cost a few hundred system calls.
class FileWriter {
public:
    explicit FileWriter(const std::string& name) {
        fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0) fail();
        buf_.reserve(Capacity);
    }
    ~FileWriter() {
        if (fd_ >= 0) ::close(fd_);
    }
    void add(const std::string& s) {
        buf_ += s;
        if (buf_.size() >= Capacity) drain();
    }
    // Returns false with error set on any failure, including the final close.
    bool finish() {
        drain();
        int fd = fd_;
        fd_ = -1;
        if (fd >= 0 && ::close(fd) != 0) fail();
        return error_.empty();
    }
    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

private:
    static constexpr size_t Capacity = 1 << 16;
    void fail() {
        if (error_.empty()) error_ = std::strerror(errno);
    }
    void drain() {
        size_t off = 0;
        while (!failed() && off < buf_.size()) {
            ssize_t n = ::write(fd_, buf_.data() + off, buf_.size() - off);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n == 0) errno = EIO;
                fail();
                break;
            }
            off += size_t(n);
        }
        buf_.clear();
    }
    int fd_ = -1;
    std::string buf_;
    std::string error_;
};

void refuseOwnFile(const ReadingTable& table, const std::string& fileName) {
    if (table.isSameFile(fileName))
        throw AppError("Cannot save the table into its own file " + fileName);
}

} // namespace

bool isTableFileName(const std::string& fileName) {
    size_t slash = fileName.find_last_of('/');
    size_t dot = fileName.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string ext = fileName.substr(dot);
    return ext.size() == 3 && (ext[1] == 'd' || ext[1] == 'D') && (ext[2] == 'b' || ext[2] == 'B');
}

bool writeTableText(const ReadingTable& table, const std::string& fileName, std::string* error) {
    const paradox::Table& t = table.table();
    for (const auto& name : ReadingColumns)
        t.requireField(name);
    refuseOwnFile(table, fileName);

    FileWriter out(fileName);
    std::string line;
    for (size_t c = 0; c < ReadingColumns.size(); ++c) {
        if (c) line += '\t';
        line += ReadingColumns[c];
    }
    line += "\r\n";
    out.add(line);
    std::vector<int> cols;
    for (const auto& name : ReadingColumns)
        cols.push_back(t.fieldIndex(name));
    const uint32_t n = t.rowCount();
    for (uint32_t i = 0; i < n && !out.failed(); ++i) {
        std::vector<paradox::Value> row = t.readRow(i);
        line.clear();
        for (size_t c = 0; c < cols.size(); ++c) {
            if (c) line += '\t';
            line += fieldDisplay(row[size_t(cols[c])]);
        }
        line += "\r\n";
        out.add(line);
    }
    bool ok = out.finish();
    if (!ok && error) *error = out.error();
    return ok;
}

void writeTableCopy(const ReadingTable& table, const std::string& fileName) {
    const paradox::Table& t = table.table();
    refuseOwnFile(table, fileName);
    t.copyTo(fileName);
}

} // namespace rd780
