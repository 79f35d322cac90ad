#pragma once
// A file written through a fixed buffer, so a million rows cost a few hundred system calls.
// The first failure is kept as the system's reason; later writes do nothing.
#include <cstddef>
#include <string>

namespace rd780 {

class FileWriter {
public:
    // Creates or truncates the file.
    explicit FileWriter(const std::string& name);
    // Writes to an open descriptor and closes it at the end (pass a dup of one you keep).
    explicit FileWriter(int fd);
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    void add(const std::string& s);
    // Hands the buffer to the system; with durable, waits until the data is on the disk.
    bool flush(bool durable = false);
    // Returns false with error set on any failure, including the final close.
    bool finish();
    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

private:
    static constexpr std::size_t Capacity = 1 << 16;
    void fail();
    void drain();
    int fd_ = -1;
    std::string buf_;
    std::string error_;
};

} // namespace rd780
