#pragma once
// A CSV file that rows are added to across runs: an existing file keeps what it holds and
// gets the new rows after it, a new or empty one gets the header first. What is refused is
// refused before a byte is written: a file that is not a CSV of ours, a Paradox table (the
// one being recorded into or another), a file another program holds locked, and anything
// but a regular file. Each row lands whole or not at all.
#include <functional>
#include <string>
#include <sys/types.h>

namespace rd780 {

class CsvAppender {
public:
    CsvAppender() = default;
    ~CsvAppender();
    CsvAppender(const CsvAppender&) = delete;
    CsvAppender& operator=(const CsvAppender&) = delete;

    // Opens name ("-" for standard output) to add rows after header. table names the table
    // recorded into alongside (empty for none); any spelling of the same file is refused.
    // Returns false with the reason in error(); the file is then left as it was.
    bool open(const std::string& name, const std::string& header, const std::string& table);

    // Writes one CRLF-ended line. On a failure the file is cut back to the last whole line
    // and false is returned with the reason.
    bool append(const std::string& line);
    // Takes back the line the last append wrote (another file failed to take its row).
    // False when the file cannot be cut back, as standard output cannot.
    bool dropLast();
    // Makes the rows durable (a no-op on standard output).
    bool sync();
    bool close();

    // Rows written by this object (not those the file held before).
    long long rows() const { return rows_; }
    const std::string& error() const { return error_; }
    // Asked when a write is interrupted by a signal: true gives the write up.
    void setStopRequested(std::function<bool()> stop) { stop_ = std::move(stop); }

private:
    bool refuse(const std::string& why);
    bool writeAll(const char* data, size_t size);
    int fd_ = -1;
    bool cuttable_ = false; // a regular file we may truncate back
    off_t end_ = 0;         // where the last whole line ends
    off_t lastStart_ = -1;  // where the last appended line starts
    long long rows_ = 0;
    std::string error_;
    std::function<bool()> stop_;
};

} // namespace rd780
