#pragma once
// Export of the reading table: tab-separated text, or a copy as a new Paradox table.
#include <string>

namespace rd780 {

class ReadingTable;

// Writes the header line and one line per row (No, Time, DC/AC, Value, Unit, AUTO; tab
// separated, CRLF after every line). Throws if the table lacks one of the columns (nothing
// is written then) or if fileName is the table's own file. Returns false when the file
// cannot be written; error then holds the system's reason.
bool writeTableText(const ReadingTable& table, const std::string& fileName, std::string* error);

// Copies every row into a new table at fileName without a primary index. Throws the
// engine's error on failure, or if fileName is the table's own file.
void writeTableCopy(const ReadingTable& table, const std::string& fileName);

// True when the extension of fileName (from its last dot) is ".db" in any case, the
// names that receive a table rather than text.
bool isTableFileName(const std::string& fileName);

} // namespace rd780
