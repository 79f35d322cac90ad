// Redraw time of the trend plot at 10k, 100k and 1M points (whole session in view), and
// of the reduction alone.
#include "view/TrendWindow.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <map>
#include <memory>
#include <random>

namespace {

using namespace rd780::view;

// A window holding n readings of a noisy, drifting voltage, one every 150 ms.
TrendWindow& windowWith(int n) {
    static std::map<int, std::unique_ptr<TrendWindow>> made;
    auto& w = made[n];
    if (w) return *w;
    w = std::make_unique<TrendWindow>();
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 0.01);
    double v = 1.2;
    char text[32];
    for (int i = 0; i < n; ++i) {
        v += noise(rng);
        std::snprintf(text, sizeof text, "%.3f", v);
        w->addReading(1'700'000'000'000 + int64_t(i) * 150, i % 5000 == 4999 ? "0.L" : text, " V");
    }
    w->setLimits(1500.0, 900.0);
    return *w;
}

void BM_TrendRedraw(benchmark::State& state) {
    TrendWindow& w = windowWith(int(state.range(0)));
    QImage img(1600, 700, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter p(&img);
        w.plot()->paint(p, img.rect());
        p.end();
        benchmark::DoNotOptimize(img.bits());
    }
    state.counters["points"] = double(w.data().points());
}
BENCHMARK(BM_TrendRedraw)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void BM_TrendReduceOnly(benchmark::State& state) {
    TrendWindow& w = windowWith(int(state.range(0)));
    const TrendTrace& t = *w.data().trace(" V");
    std::vector<TrendColumn> cols;
    for (auto _ : state) {
        t.reduce(t.firstTime(), t.lastTime() + 1, 1500, cols);
        benchmark::DoNotOptimize(cols.data());
    }
}
BENCHMARK(BM_TrendReduceOnly)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv); // the plot is a widget
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
