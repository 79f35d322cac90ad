// Opens mutated tables: every outcome must be rows or a paradox::Error, never a crash,
// a hang or an oversized allocation.
#include "record/paradox/ParadoxTable.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace px = rd780::paradox;

static std::string scratchPath() {
    // tmpfs keeps the syncs of the write path cheap.
    return std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/fuzz_paradox_" +
           std::to_string(::getpid()) + ".db";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    static const std::string path = scratchPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    try {
        auto t = px::Table::open(path, px::OpenMode::ReadOnly);
        std::size_t chars = 0;
        for (const auto& field : t.fields())
            chars += field.name.size();
        for (std::uint32_t r = 0; r < t.rowCount(); ++r)
            for (const auto& v : t.readRow(r))
                chars += px::displayText(v).size();
        t.close();

        // Writing: repair the counts, append a row of NULLs, read it back, empty.
        auto w = px::Table::open(path, px::OpenMode::ReadWrite);
        if (!w.hasPrimaryIndex()) {
            w.appendRow(w.blankRow());
            chars += w.readRow(w.rowCount() - 1).size();
            w.emptyTable();
        }
        if (chars == static_cast<std::size_t>(-1)) std::abort();
    } catch (const px::Error&) {
    }
    return 0;
}
