// rd780-frames: decodes captured frame texts with the program's own decoder.
// One frame per input line (hexadecimal, either case); one output line per input line:
// ReadingText, ReadingValue, ReadingUnit, ReadingCoupling, ReadingAuto, the scale pointer
// argument and the bar-graph position, tab-separated; or "error", a tab and the error.
#include "meter/core/FrameDecoder.h"

#include <cmath>
#include <cstring>
#include <iostream>
#include <string>

namespace {

struct Collect : rd780::DecodeSink {
    int pointer = 0;
    int bar = 0;
    void scalePointer(int v) override { pointer = v; }
    void setBar(int p) override { bar = p; }
};

void usage(std::ostream& to) {
    to << "usage: rd780-frames < FRAMES\n"
          "Decodes meter frames, one hexadecimal frame per input line, and prints one line\n"
          "per frame: text, value, unit, coupling, AUTO, scale pointer, bar position.\n"
          "  -h, --help  show this help\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
        usage(help && argc == 2 ? std::cout : std::cerr);
        std::cout.flush();
        return help && argc == 2 ? (std::cout ? 0 : 1) : 2;
    }
    std::ios::sync_with_stdio(false);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string text, unit, coupling, autoRange;
        float value = 0;
        Collect sink;
        try {
            rd780::decodeFrame(line, rd780::ScaleSettings{},
                               {text, value, unit, coupling, autoRange}, sink);
            std::cout << text << '\t' << static_cast<long long>(std::lround(value)) << '\t' << unit
                      << '\t' << coupling << '\t' << autoRange << '\t' << sink.pointer << '\t'
                      << sink.bar << '\n';
        } catch (const rd780::DecodeError& e) {
            std::cout << "error\t" << e.what() << '\n';
        }
    }
    // A full disk or a closed pipe must not look like a complete decode.
    std::cout.flush();
    if (std::cin.bad() || !std::cout) {
        std::cerr << "rd780-frames: "
                  << (std::cin.bad() ? "cannot read input" : "cannot write output") << '\n';
        return 1;
    }
    return 0;
}
