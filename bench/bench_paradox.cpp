// Table engine: appending at 1k and 1M rows, opening a 1M-row table to its first screen,
// reading it all, and a bare loop over the same file for comparison.
#include "record/paradox/ParadoxTable.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace px = rd780::paradox;
namespace fs = std::filesystem;

namespace {

std::vector<px::Field> readingFields() {
    return {{"No", px::FieldType::Long, 0},     {"Time", px::FieldType::Time, 0},
            {"DC/AC", px::FieldType::Alpha, 2}, {"Value", px::FieldType::Alpha, 8},
            {"Unit", px::FieldType::Alpha, 4},  {"AUTO", px::FieldType::Alpha, 4},
            {"Nval", px::FieldType::Number, 0}};
}

std::vector<px::Value> readingRow(std::int64_t no) {
    return {no,
            px::TimeOfDay{static_cast<std::int32_t>(no % 86'400'000)},
            std::string("DC"),
            std::to_string(no % 10000),
            std::string("mV"),
            std::string("AUTO"),
            static_cast<double>(no) / 8.0};
}

const fs::path& scratch() {
    static const fs::path dir = [] {
        auto d = fs::temp_directory_path() / ("rd780-bench-" + std::to_string(::getpid()));
        fs::create_directories(d);
        std::atexit([] {
            fs::remove_all(fs::temp_directory_path() /
                           ("rd780-bench-" + std::to_string(::getpid())));
        });
        return d;
    }();
    return dir;
}

// A table of n rows, built once per run and per size.
fs::path tableOf(std::uint32_t n) {
    const fs::path file = scratch() / ("rows" + std::to_string(n) + ".db");
    if (!fs::exists(file)) {
        auto t = px::Table::create(file, readingFields());
        t.setSyncInterval(1 << 30);
        for (std::uint32_t i = 0; i < n; ++i)
            t.appendRow(readingRow(i));
        t.close();
    }
    return file;
}

// Per-row append cost on a table that already holds range(0) rows. range(1) is the sync
// interval in ms (the program uses 200; a huge one measures the write path alone).
void BM_AppendRow(benchmark::State& state) {
    const auto rows = static_cast<std::uint32_t>(state.range(0));
    const fs::path work = scratch() / "append.db";
    fs::copy_file(tableOf(rows), work, fs::copy_options::overwrite_existing);
    auto t = px::Table::open(work, px::OpenMode::ReadWrite);
    t.setSyncInterval(static_cast<int>(state.range(1)));
    std::int64_t no = rows;
    const auto row = readingRow(no);
    for (auto _ : state)
        t.appendRow(row);
    t.close();
    state.SetItemsProcessed(state.iterations());
    fs::remove(work);
}
BENCHMARK(BM_AppendRow)
    ->Args({1000, 200})
    ->Args({1'000'000, 200})
    ->Args({1000, 1 << 30})
    ->Args({1'000'000, 1 << 30})
    ->Unit(benchmark::kMicrosecond);

// Open a 1M-row table and read its first screen of 30 rows, as the grid does.
void BM_Open1MFirstScreen(benchmark::State& state) {
    const fs::path file = tableOf(1'000'000);
    for (auto _ : state) {
        auto t = px::Table::open(file, px::OpenMode::ReadOnly);
        for (std::uint32_t r = 0; r < 30; ++r)
            benchmark::DoNotOptimize(t.readRow(r));
    }
}
BENCHMARK(BM_Open1MFirstScreen)->Unit(benchmark::kMillisecond);

// Every row of the 1M table through the engine, as display texts.
void BM_Read1MRows(benchmark::State& state) {
    const fs::path file = tableOf(1'000'000);
    for (auto _ : state) {
        auto t = px::Table::open(file, px::OpenMode::ReadOnly);
        std::size_t chars = 0;
        for (std::uint32_t r = 0; r < t.rowCount(); ++r)
            for (const auto& v : t.readRow(r))
                chars += px::displayText(v).size();
        benchmark::DoNotOptimize(chars);
    }
    state.SetItemsProcessed(state.iterations() * 1'000'000);
}
BENCHMARK(BM_Read1MRows)->Unit(benchmark::kMillisecond)->Iterations(2);

// The same bytes read by a bare loop: whole blocks, summing the first byte of each record.
void BM_BareLoop1M(benchmark::State& state) {
    const fs::path file = tableOf(1'000'000);
    std::vector<unsigned char> block;
    for (auto _ : state) {
        const int fd = ::open(file.c_str(), O_RDONLY);
        unsigned char head[6];
        ::pread(fd, head, 6, 0);
        const int recordSize = head[0] | head[1] << 8, headerSize = head[2] | head[3] << 8;
        ::pread(fd, head, 1, 5);
        block.resize(static_cast<size_t>(head[0]) * 1024);
        std::uint64_t sum = 0;
        for (off_t off = headerSize;
             ::pread(fd, block.data(), block.size(), off) == static_cast<ssize_t>(block.size());
             off += static_cast<off_t>(block.size())) {
            const int add = static_cast<std::int16_t>(block[4] | block[5] << 8);
            for (int at = 6; at <= 6 + add; at += recordSize)
                sum += block[at + 3];
        }
        ::close(fd);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 1'000'000);
}
BENCHMARK(BM_BareLoop1M)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
