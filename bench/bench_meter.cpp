// Assembly plus decoding per frame, as the USB link delivers it: data reports of up to nine
// meter bytes, then a report without meter bytes that flushes and decodes.
#include "meter/core/FrameAssembler.h"
#include "meter/core/FrameDecoder.h"
#include "meter/core/MeterSimulator.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using Report = std::vector<uint8_t>;

std::vector<Report> reportsFor(const std::vector<uint8_t>& frame) {
    std::vector<Report> out;
    for (std::size_t i = 0; i < frame.size(); i += 9) {
        Report r(10, 0);
        const std::size_t n = std::min<std::size_t>(9, frame.size() - i);
        r[0] = static_cast<uint8_t>(n);
        std::copy(frame.begin() + i, frame.begin() + i + n, r.begin() + 1);
        out.push_back(r);
    }
    out.push_back(Report(10, 0));
    return out;
}

void assembleAndDecode(benchmark::State& state, bool longFrames) {
    rd780::MeterSimulator sim;
    sim.setLongFrameInterval(longFrames ? 1 : 0);
    std::vector<std::vector<Report>> frames;
    for (int i = 0; i < 64; ++i)
        frames.push_back(reportsFor(sim.nextFrame()));
    std::string frameHex, chunk, text, unit, coupling, autoRange;
    bool pending = false;
    int idle = 0, poll = 0, decoded = 0;
    float value = 0;
    rd780::DecodeSink sink;
    std::size_t k = 0;
    for (auto _ : state) {
        for (const Report& r : frames[k++ % frames.size()]) {
            auto out = rd780::assembleHidReport({frameHex, chunk, pending, idle, poll}, 0, r.data(),
                                                r.size());
            if (out.wholeFrame) {
                try {
                    rd780::decodeFrame(frameHex, {}, {text, value, unit, coupling, autoRange},
                                       sink);
                    ++decoded;
                } catch (const rd780::DecodeError&) {
                }
            }
            benchmark::DoNotOptimize(out);
        }
    }
    state.counters["decoded"] = decoded;
    state.SetItemsProcessed(state.iterations());
}

void BM_ShortFrame(benchmark::State& s) {
    assembleAndDecode(s, false);
}
void BM_LongFrame(benchmark::State& s) {
    assembleAndDecode(s, true);
}

} // namespace

BENCHMARK(BM_ShortFrame);
BENCHMARK(BM_LongFrame);
BENCHMARK_MAIN();
