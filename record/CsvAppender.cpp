#include "record/CsvAppender.h"

#include "record/paradox/ParadoxTable.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rd780 {

namespace {

std::string kindOf(mode_t mode) {
    if (S_ISFIFO(mode))
        return "is a FIFO (named pipe); the CSV goes to a regular file, or to standard output "
               "with --csv -";
    if (S_ISDIR(mode)) return "is a folder";
    return "is not a regular file; the CSV goes to a regular file, or to standard output with "
           "--csv -";
}

bool isParadoxTable(const std::string& name) {
    try {
        paradox::Table::open(name, paradox::OpenMode::ReadOnly);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

CsvAppender::~CsvAppender() {
    if (fd_ >= 0) ::close(fd_);
}

bool CsvAppender::refuse(const std::string& why) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    error_ = why;
    return false;
}

bool CsvAppender::open(const std::string& name, const std::string& header,
                       const std::string& table) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    error_.clear();
    rows_ = 0;
    lastStart_ = -1;
    struct stat tableSt {};
    const bool haveTable = !table.empty() && ::stat(table.c_str(), &tableSt) == 0;
    auto isTable = [&](const struct stat& st) {
        return haveTable && st.st_dev == tableSt.st_dev && st.st_ino == tableSt.st_ino;
    };
    struct stat st {};
    if (name == "-") {
        fd_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        if (fd_ < 0 || ::fstat(fd_, &st) != 0) return refuse(std::strerror(errno));
        if (S_ISREG(st.st_mode) && isTable(st))
            return refuse("standard output is the table " + table);
        cuttable_ = false;
        return writeAll(header.data(), header.size()) || refuse(error_);
    }

    // Looked at before it is opened: opening a FIFO or a device may wait or act.
    if (::stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return refuse(kindOf(st.st_mode));
    fd_ = ::open(name.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd_ < 0) return refuse(errno == ENXIO ? kindOf(S_IFIFO) : std::strerror(errno));
    if (::fstat(fd_, &st) != 0) return refuse(std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return refuse(kindOf(st.st_mode));
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    if (isTable(st)) return refuse("is the table " + table + "; the CSV needs a file of its own");
    // Held for the run, so a second logger on the same file is refused too.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
        return refuse(errno == EWOULDBLOCK ? "is locked by another program that writes to it"
                                           : std::string("cannot lock: ") + std::strerror(errno));
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd_, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK)
        return refuse("is locked by another program that writes to it");
    if (::fstat(fd_, &st) != 0) return refuse(std::strerror(errno));

    cuttable_ = true;
    end_ = st.st_size;
    if (st.st_size == 0) {
        if (writeAll(header.data(), header.size())) return true;
        [[maybe_unused]] const int r = ::ftruncate(fd_, 0);
        return refuse(error_);
    }
    std::string first(header.size(), '\0');
    const ssize_t got = ::pread(fd_, first.data(), first.size(), 0);
    if (got != static_cast<ssize_t>(first.size()) || first != header) {
        if (isParadoxTable(name))
            return refuse("is a Paradox table, not a CSV file; the CSV needs a file of its own");
        std::string bare = header;
        while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r'))
            bare.pop_back();
        return refuse("does not begin with the CSV header of rd780-log (" + bare +
                      "); name a new or empty file");
    }
    // A last line cut short by a crash stays a line of its own.
    char last = '\n';
    if (::pread(fd_, &last, 1, st.st_size - 1) == 1 && last != '\n') {
        const off_t before = end_;
        if (!writeAll("\r\n", 2)) {
            [[maybe_unused]] const int r = ::ftruncate(fd_, before);
            return refuse(error_);
        }
    }
    return true;
}

bool CsvAppender::writeAll(const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, data + done, size - done);
        if (n < 0 && errno == EINTR) {
            if (!(stop_ && stop_())) continue;
            error_ = "stopped by a signal while the output was blocked";
            return false;
        }
        if (n <= 0) {
            error_ = n < 0 ? std::strerror(errno) : "nothing written";
            return false;
        }
        done += static_cast<size_t>(n);
    }
    end_ += static_cast<off_t>(size);
    return true;
}

bool CsvAppender::append(const std::string& line) {
    if (fd_ < 0 || !error_.empty()) return false;
    const off_t start = end_;
    if (!writeAll(line.data(), line.size())) {
        if (cuttable_ && ::ftruncate(fd_, start) != 0)
            error_ += std::string("; cutting back to the last whole line failed: ") +
                      std::strerror(errno);
        return false;
    }
    lastStart_ = start;
    ++rows_;
    return true;
}

bool CsvAppender::dropLast() {
    if (!cuttable_ || lastStart_ < 0 || fd_ < 0) return false;
    if (::ftruncate(fd_, lastStart_) != 0) return false;
    end_ = lastStart_;
    lastStart_ = -1;
    --rows_;
    return true;
}

bool CsvAppender::sync() {
    if (fd_ < 0) return error_.empty();
    if (cuttable_ && ::fdatasync(fd_) != 0 && error_.empty()) error_ = std::strerror(errno);
    return error_.empty();
}

bool CsvAppender::close() {
    if (fd_ < 0) return error_.empty();
    const bool synced = sync();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && error_.empty()) error_ = std::strerror(errno);
    return synced && error_.empty();
}

} // namespace rd780
