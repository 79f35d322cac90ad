// The recording side on a table of a million readings: the text export the Save command
// writes, the grid's first screen after opening the table, and a bare read of the file's
// bytes as the floor either could reach.
#include "record/ReadingTable.h"
#include "record/ReadingTableModel.h"
#include "record/ReportLayout.h"
#include "record/TableExport.h"
#include "record/TimeOfDay.h"

#include <QApplication>
#include <QHeaderView>
#include <QPdfWriter>
#include <QTableView>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
// RD780_BENCH_ROWS sets another row count (for a look at ten million rows).
const int MillionRows = [] {
    const char* env = std::getenv("RD780_BENCH_ROWS");
    return env ? std::atoi(env) : 1'000'000;
}();

// One table for every benchmark, built once.
const fs::path& millionRowTable() {
    static fs::path path = [] {
        fs::path dir =
            fs::temp_directory_path() / ("rd780-bench-record-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        fs::path p = dir / "Kv400db.DB";
        rd780::ReadingTable t;
        t.openOrCreate(p);
        const char* units[] = {" V", "mV", "k*", "uA", "kHz"};
        for (int i = 0; i < MillionRows; ++i) {
            rd780::ReadingRow r;
            r.No = i + 1;
            r.TimeMs = (i * 250) % rd780::MsPerDay;
            r.Value = std::to_string(i % 10000);
            r.Unit = units[i % 5];
            r.Coupling = i % 2 ? "DC" : "AC";
            r.Auto = i % 3 ? "AUTO" : "";
            r.Nval = i * 0.5;
            t.appendReading(r);
        }
        t.close();
        return p;
    }();
    return path;
}

void BM_ExportText1M(benchmark::State& state) {
    rd780::ReadingTable t;
    t.open(millionRowTable());
    const std::string out = millionRowTable().parent_path() / "export.txt";
    for (auto _ : state) {
        std::string error;
        if (!rd780::writeTableText(t, out, &error)) state.SkipWithError(error.c_str());
    }
    state.counters["rows/s"] = benchmark::Counter(double(MillionRows) * double(state.iterations()),
                                                  benchmark::Counter::kIsRate);
    state.counters["bytes"] = double(fs::file_size(out));
}
BENCHMARK(BM_ExportText1M)->Unit(benchmark::kMillisecond)->Iterations(3);

// Open the table and fetch the rows of the grid's first screen, as the window does.
void BM_OpenToFirstScreen1M(benchmark::State& state) {
    for (auto _ : state) {
        rd780::ReadingTable t;
        t.open(millionRowTable());
        rd780::ReadingTableModel model(t);
        for (int r = 0; r < 14; ++r)
            for (int c = 0; c < model.columnCount(); ++c)
                benchmark::DoNotOptimize(model.data(model.index(r, c), Qt::DisplayRole));
    }
}
BENCHMARK(BM_OpenToFirstScreen1M)->Unit(benchmark::kMillisecond);

// Jumping to the end of the table (the grid after each appended row).
void BM_GridLastScreen1M(benchmark::State& state) {
    rd780::ReadingTable t;
    t.open(millionRowTable());
    rd780::ReadingTableModel model(t);
    int r = model.rowCount() - 1;
    for (auto _ : state) {
        model.reload();
        for (int k = 0; k < 14; ++k)
            benchmark::DoNotOptimize(model.data(model.index(r - k, 3), Qt::DisplayRole));
    }
}
BENCHMARK(BM_GridLastScreen1M)->Unit(benchmark::kMicrosecond);

// Shows a grid the size of the window's, on the model.
void showGrid(QTableView& view, rd780::ReadingTableModel& model) {
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.verticalHeader()->setDefaultSectionSize(18);
    view.resize(334, 260);
    view.setModel(&model);
    view.show();
    QCoreApplication::processEvents();
}

// The grid itself: a view on the million-row table shown, then jumped to its last row.
void BM_GridViewShowAndScroll1M(benchmark::State& state) {
    rd780::ReadingTable t;
    t.open(millionRowTable());
    for (auto _ : state) {
        rd780::ReadingTableModel model(t);
        QTableView view;
        showGrid(view, model);
        view.scrollToBottom();
        view.repaint();
        QCoreApplication::processEvents();
        state.counters["rows read"] = double(model.rowsRead());
    }
}
BENCHMARK(BM_GridViewShowAndScroll1M)->Unit(benchmark::kMillisecond);

// One recorded row as the window handles it on a shown million-row grid: append, announce
// the new row, select it and scroll to it.
void BM_GridFollowAppend1M(benchmark::State& state) {
    const fs::path copy = millionRowTable().parent_path() / "follow.DB";
    fs::copy_file(millionRowTable(), copy, fs::copy_options::overwrite_existing);
    rd780::ReadingTable t;
    t.open(copy);
    rd780::ReadingTableModel model(t);
    QTableView view;
    showGrid(view, model);
    rd780::ReadingRow r{0, 0, "DC", "00.66", " V", "", 0.66};
    using Clock = std::chrono::steady_clock;
    Clock::duration inTable{}, inView{};
    for (auto _ : state) {
        ++r.No;
        auto t0 = Clock::now();
        t.appendReading(r);
        auto t1 = Clock::now();
        model.refresh();
        view.setCurrentIndex(model.index(model.rowCount() - 1, 0));
        view.scrollToBottom();
        QCoreApplication::processEvents();
        inTable += t1 - t0;
        inView += Clock::now() - t1;
    }
    auto us = [&](Clock::duration d) {
        return std::chrono::duration<double, std::micro>(d).count() / double(state.iterations());
    };
    state.counters["table us"] = us(inTable);
    state.counters["grid us"] = us(inView);
    t.close();
    fs::remove(copy);
}
BENCHMARK(BM_GridFollowAppend1M)->Unit(benchmark::kMicrosecond);

// The printed report of 37,000 rows (1,000 pages) written as PDF: the work the preview does
// before it shows its first page.
void BM_Report1000PagesPdf(benchmark::State& state) {
    const fs::path p = millionRowTable().parent_path() / "report.DB";
    {
        rd780::ReadingTable t;
        t.openOrCreate(p);
        rd780::ReadingRow r{0, 0, "DC", "00.66", "k*", "AUTO", 0.66};
        for (int i = 0; i < 37'000; ++i) {
            r.No = i + 1;
            t.appendReading(r);
        }
    }
    rd780::ReadingTable t;
    t.open(p);
    const QString pdf =
        QString::fromStdString((millionRowTable().parent_path() / "r.pdf").string());
    for (auto _ : state) {
        QPdfWriter writer(pdf);
        rd780::renderReport(t, writer);
    }
}
BENCHMARK(BM_Report1000PagesPdf)->Unit(benchmark::kMillisecond)->Iterations(1);

// Only the bytes: read the whole file in 64 KiB pieces and touch every byte.
void BM_BareFileRead1M(benchmark::State& state) {
    std::vector<unsigned char> buf(1 << 16);
    for (auto _ : state) {
        FILE* f = std::fopen(millionRowTable().c_str(), "rb");
        unsigned long sum = 0;
        size_t n;
        while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0)
            for (size_t i = 0; i < n; ++i)
                sum += buf[i];
        std::fclose(f);
        benchmark::DoNotOptimize(sum);
    }
    state.counters["bytes"] = double(fs::file_size(millionRowTable()));
}
BENCHMARK(BM_BareFileRead1M)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv); // the grid and its model are Qt objects
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    millionRowTable(); // built before timing starts
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(millionRowTable().parent_path(), ec);
    return 0;
}
