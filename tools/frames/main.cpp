// rd780-frames: decodes captured frame texts with the program's own decoder.
// One frame per input line (hexadecimal, either case); one output line per input line:
// ReadingText, ReadingValue, ReadingUnit, ReadingCoupling, ReadingAuto, the scale pointer
// argument and the bar-graph position, tab-separated; or "error", a tab and the error.
// A byte outside printable ASCII in a field or an error is written as \xHH, so a control
// byte in a frame can never split or shift a line; a backslash is written as \x5C.
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
          "  -h, --help  show this help\n"
          "  --version   print the version\n";
}

std::string printable(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += ch;
        } else {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 0x0F];
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "rd780-frames " RD780_VERSION "\n";
        std::cout.flush();
        return std::cout ? 0 : 1;
    }
    if (argc > 1) {
        const bool help = std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0;
        if (!help || argc > 2)
            std::cerr << "rd780-frames: unexpected argument '" << argv[help ? 2 : 1] << "'\n";
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
            std::cout << printable(text) << '\t' << static_cast<long long>(std::lround(value))
                      << '\t' << printable(unit) << '\t' << printable(coupling) << '\t'
                      << printable(autoRange) << '\t' << sink.pointer << '\t' << sink.bar << '\n';
        } catch (const rd780::DecodeError& e) {
            std::cout << "error\t" << printable(e.text()) << '\n';
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
