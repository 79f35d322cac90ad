#include "record/JsonLinesSink.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace rd780 {

JsonLinesSink::JsonLinesSink(std::string fileName) : name_(std::move(fileName)) {}

bool JsonLinesSink::open(std::string& error) {
    int fd = -1;
    bool unfinished = false;
    if (name_ == "-") {
        fd = ::dup(STDOUT_FILENO);
    } else {
        durable_ = true;
        fd = ::open(name_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_size > 0) {
            char last = '\n';
            unfinished = ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n';
        }
    }
    if (fd < 0) {
        error = "JSON " + name_ + ": " + std::strerror(errno);
        return false;
    }
    out_ = std::make_unique<FileWriter>(fd);
    if (unfinished) out_->add("\n");
    return flush(error);
}

void JsonLinesSink::put(const CsvReading& row) {
    if (!out_) return;
    out_->add(readingJson(row) + '\n');
    // Handed to the system with each row, as the CSV is: a reader of the file sees it at once.
    if (!out_->flush()) throw std::runtime_error("JSON " + name_ + ": " + out_->error());
}

bool JsonLinesSink::flush(std::string& error) {
    if (!out_ || out_->flush(durable_)) return true;
    error = "JSON " + name_ + ": " + out_->error();
    return false;
}

bool JsonLinesSink::finish(std::string& error) {
    if (!out_) return true;
    const bool ok = out_->flush(durable_) && out_->finish();
    if (!ok) error = "JSON " + name_ + ": " + out_->error();
    out_.reset();
    return ok;
}

} // namespace rd780
