#include "record/FileWriter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace rd780 {

FileWriter::FileWriter(const std::string& name) {
    fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) fail();
    buf_.reserve(Capacity);
}

FileWriter::FileWriter(int fd) : fd_(fd) {
    if (fd_ < 0) fail();
    buf_.reserve(Capacity);
}

FileWriter::~FileWriter() {
    if (fd_ >= 0) ::close(fd_);
}

void FileWriter::add(const std::string& s) {
    buf_ += s;
    if (buf_.size() >= Capacity) drain();
}

bool FileWriter::flush(bool durable) {
    drain();
    if (durable && !failed() && fd_ >= 0 && ::fdatasync(fd_) != 0) fail();
    return !failed();
}

bool FileWriter::finish() {
    drain();
    int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && ::close(fd) != 0) fail();
    return error_.empty();
}

void FileWriter::fail() {
    if (error_.empty()) error_ = std::strerror(errno);
}

void FileWriter::drain() {
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

} // namespace rd780
