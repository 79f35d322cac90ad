#pragma once
// One JSON object per recorded row, one row per line, appended to a file (or written to
// standard output) so a script reads the readings without parsing CSV.
#include "record/FileWriter.h"
#include "record/RowOutput.h"

#include <memory>

namespace rd780 {

class JsonLinesSink : public RowOutput {
public:
    // "-" is standard output. Opening appends; a line left unfinished by an earlier run is
    // ended first, so every line a reader sees is whole.
    explicit JsonLinesSink(std::string fileName);
    // False with the reason when the file cannot be opened.
    bool open(std::string& error);

    void put(const CsvReading& row) override;
    bool flush(std::string& error) override;
    bool finish(std::string& error) override;

private:
    std::string name_;
    bool durable_ = false;
    std::unique_ptr<FileWriter> out_;
};

} // namespace rd780
