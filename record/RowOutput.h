#pragma once
// Where a recorded row goes besides the reading table: a CSV or JSON-lines file, a message
// bus. A session hands every recorded row to each of its outputs, in recording order.
#include "record/CsvExport.h"

#include <string>

namespace rd780 {

class RowOutput {
public:
    virtual ~RowOutput() = default;
    // One recorded row. Throws when the output can take no more (a file write failed);
    // an output that only lags behind (a broker away) must not throw and must not block.
    virtual void put(const CsvReading& row) = 0;
    // Makes what was put durable where the output can; false with the reason on failure.
    virtual bool flush(std::string& error) = 0;
    // The last flush before the session ends.
    virtual bool finish(std::string& error) { return flush(error); }
    // Words for the logger's summary line (", 35 published, 0 dropped"); empty for none.
    virtual std::string summary() const { return {}; }
};

// The row as one JSON object, without a line break:
// {"timestamp":…,"no":7,"value":"-45.05","unit":"mV","coupling":"DC","auto":false,
//  "si_value":-0.04505,"si_unit":"V"}. si_value is null for an overload, si_unit null for
// a unit with no base unit.
std::string readingJson(const CsvReading& row);

// A JSON string literal, quotes included.
std::string jsonString(std::string_view text);

} // namespace rd780
