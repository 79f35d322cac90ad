#include "record/TableExport.h"

#include "base/Guard.h"
#include "record/FileWriter.h"
#include "record/ReadingTable.h"

namespace rd780 {

namespace {

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
