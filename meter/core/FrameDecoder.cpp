#include "meter/core/FrameDecoder.h"

#include "meter/core/FrameAssembler.h"

#include <climits>
#include <string>

namespace rd780 {

namespace {

// Byte n of the frame (from 0): characters 2n+1 and 2n+2 of the frame text.
int byteAt(const std::string& frame, int n) {
    const std::size_t first = static_cast<std::size_t>(2 * n);
    if (first + 1 >= frame.size())
        throw DecodeError("Frame text too short for byte " + std::to_string(n) + " (" +
                          std::to_string(frame.size()) + " characters)");
    const int hi = hexDigitValue(frame[first]);
    const int lo = hexDigitValue(frame[first + 1]);
    if (hi < 0 || lo < 0)
        throw DecodeError("'$" + frame.substr(first, 2) + "' is not a valid integer value");
    return hi * 16 + lo;
}

char charAt(const std::string& frame, int n) {
    return static_cast<char>(byteAt(frame, n));
}

// Character at 1-based position p of the frame text, upper-cased.
char textCharAt(const std::string& frame, std::size_t p) {
    if (p == 0 || p > frame.size())
        throw DecodeError("Frame text too short for character " + std::to_string(p));
    char c = frame[p - 1];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return c;
}

} // namespace

int parseDisplayInteger(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size()) throw DecodeError("'" + text + "' is not a valid integer value");
    long long v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') throw DecodeError("'" + text + "' is not a valid integer value");
        v = v * 10 + (c - '0');
        if (v > static_cast<long long>(INT_MAX) + 1)
            throw DecodeError("'" + text + "' is not a valid integer value");
    }
    if (negative) v = -v;
    if (v > INT_MAX || v < INT_MIN)
        throw DecodeError("'" + text + "' is not a valid integer value");
    return static_cast<int>(v);
}

void decodeFrame(const std::string& frame, const ScaleSettings& settings, ReadingRefs reading,
                 DecodeSink& sink) {
    // Step 1.
    sink.showConnection();

    // Step 3: the point position; a later point overrides an earlier one.
    int position = 0;
    if (byteAt(frame, 23) == 0x2E) position = 1;
    if (byteAt(frame, 24) == 0x2E) position = 2;
    if (byteAt(frame, 25) == 0x2E) position = 3;

    // Step 4: the digits around the point.
    static constexpr int DigitBytes[4][4] = {
        {22, 23, 24, 25}, {22, 24, 25, 26}, {22, 23, 25, 26}, {22, 23, 24, 26}};
    char d[4];
    for (int k = 0; k < 4; ++k)
        d[k] = charAt(frame, DigitBytes[position][k]);
    sink.showPointShape(position);

    // Step 5.
    const std::string sign = byteAt(frame, 21) == 0x2D ? "-" : "";
    sink.showSign(!sign.empty());

    // Steps 6 and 7.
    for (char& c : d)
        if (c == 'L') c = '@';
    sink.showDigits(d[0], d[1], d[2], d[3]);

    // Step 8.
    reading.Coupling.clear();
    reading.Auto.clear();
    reading.Unit.clear();
    sink.hideUnitGlyphs();

    // Step 9.
    const char prefix = charAt(frame, 27);
    reading.Unit = std::string(1, prefix);
    sink.showPrefix(prefix);

    // Step 10: the function code, read as a decimal digit.
    const char codeChar = textCharAt(frame, 14);
    if (codeChar < '0' || codeChar > '9')
        throw DecodeError("'" + std::string(1, codeChar) + "' is not a valid integer value");
    const int code = codeChar - '0';
    const char mode = textCharAt(frame, 22);
    const std::string coupling = mode == '0' ? "DC" : "AC";
    switch (code) {
    case 0:
        reading.Unit = prefix == 'V' ? "V" : reading.Unit + "V";
        reading.Coupling = coupling;
        break;
    case 1:
        reading.Unit = prefix == 'A' ? "uA" : reading.Unit + "A";
        reading.Coupling = coupling;
        break;
    case 2:
        reading.Unit = mode == '1' ? "Duty" : reading.Unit + "Hz";
        break;
    case 3:
        reading.Unit += "F";
        break;
    case 4:
        reading.Unit += "*";
        break;
    case 5:
        reading.Unit += "*&";
        break;
    case 6:
        reading.Unit += "V)";
        position = 1;
        break;
    default:
        break;
    }
    sink.showFunction(code, mode, prefix);

    // Step 11: only the point of the current position stands.
    std::string p[3];
    if (position >= 1) p[position - 1] = ".";
    const bool lZero = d[1] == '@' && d[2] == '0';
    if (lZero) p[2].clear();
    sink.showPointAgain(position, lZero);

    // Step 12.
    std::string text = sign;
    text += d[0];
    text += p[0];
    text += d[1];
    text += p[1];
    if (d[2] != '@') {
        text += d[2];
        text += p[2];
        text += d[3];
    } else {
        text += 'L';
        text += p[2];
    }
    reading.Text = text;

    // Step 13.
    const std::string key = sign + d[1] + d[2];
    if (key == "0@")
        reading.Value = static_cast<float>(settings.OverloadValue);
    else if (key == "-0@")
        reading.Value = static_cast<float>(-settings.OverloadValue);
    else
        reading.Value = static_cast<float>(parseDisplayInteger(sign + d[0] + d[1] + d[2] + d[3]));

    // Step 14: the first three digits as a count, centred on the scale's zero.
    if (key == "0@")
        sink.scalePointer(settings.ScaleDivisions * 10);
    else if (key == "-0@")
        sink.scalePointer(0);
    else
        sink.scalePointer(parseDisplayInteger(sign + d[0] + d[1] + d[2]) +
                          settings.ScaleZeroOffset);

    // Step 15.
    reading.Auto = byteAt(frame, 19) == 1 ? "AUTO" : "";

    // Step 16.
    sink.offerForRecording();

    // Step 17.
    if (d[1] == '0' && d[2] == '@') {
        sink.setBar(settings.BarOverloadPosition);
    } else {
        const int n = parseDisplayInteger(std::string{d[0], d[1]});
        sink.setBar(n <= 1 ? 1 : n);
    }

    // Steps 18 and 19.
    if (frame.size() == ShortFrameChars) sink.resetChart();
    if (frame.size() == LongFrameChars) sink.plotWaveform(frame);
}

bool decodableFrame(const std::string& frameHex) {
    std::string text, unit, coupling, autoText;
    float value = 0;
    DecodeSink quiet;
    try {
        decodeFrame(frameHex, ScaleSettings{}, {text, value, unit, coupling, autoText}, quiet);
    } catch (const DecodeError&) {
        return false;
    }
    return true;
}

} // namespace rd780
