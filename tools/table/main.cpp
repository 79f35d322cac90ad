// rd780-table FILE: prints a Paradox table as tab-separated text, one line per row in file
// order, after a line of field names.
#include "record/paradox/ParadoxTable.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace px = rd780::paradox;

namespace {

void usage(FILE* to) {
    std::fputs("usage: rd780-table [--] FILE\n"
               "Prints the Paradox table FILE as tab-separated text: a line of field names,\n"
               "then one line per row.\n"
               "  -h, --help  show this help\n"
               "  --version   print the version\n",
               to);
}

} // namespace

int main(int argc, char** argv) {
    // Exit status 2 for a wrong call, 1 for a table that cannot be read or printed.
    const char* file = nullptr;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!optionsDone && (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0)) {
            usage(stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (!optionsDone && std::strcmp(a, "--version") == 0) {
            std::puts("rd780-table " RD780_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (!optionsDone && std::strcmp(a, "--") == 0) {
            optionsDone = true;
        } else if ((!optionsDone && a[0] == '-' && a[1] != '\0') || file) {
            std::fprintf(stderr,
                         file ? "rd780-table: a second file '%s'; give one\n"
                              : "rd780-table: unknown option '%s'\n",
                         a);
            usage(stderr);
            return 2;
        } else {
            file = a;
        }
    }
    if (!file) {
        usage(stderr);
        return 2;
    }
    try {
        const px::Table t = px::Table::open(file, px::OpenMode::ReadOnly);
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
