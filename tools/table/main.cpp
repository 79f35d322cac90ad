// rd780-table FILE: prints a Paradox table as tab-separated text, one line per row in file
// order, after a line of field names.
#include "record/paradox/ParadoxTable.h"

#include <cstdio>
#include <exception>
#include <string>

namespace px = rd780::paradox;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: rd780-table FILE\n");
        return 1;
    }
    try {
        const px::Table t = px::Table::open(argv[1], px::OpenMode::ReadOnly);
        std::string line;
        for (const auto& f : t.fields()) {
            if (!line.empty()) line += '\t';
            line += px::displayText(f.name);
        }
        line += '\n';
        std::fputs(line.c_str(), stdout);
        const std::uint32_t n = t.rowCount();
        for (std::uint32_t r = 0; r < n; ++r) {
            line.clear();
            for (const auto& v : t.readRow(r)) {
                line += px::displayText(v);
                line += '\t';
            }
            line.back() = '\n';
            if (std::fputs(line.c_str(), stdout) == EOF) throw px::Error("cannot write output");
        }
        if (std::fflush(stdout) != 0) throw px::Error("cannot write output");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rd780-table: %s\n", e.what());
        return 1;
    }
    return 0;
}
