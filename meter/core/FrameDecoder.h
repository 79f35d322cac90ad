#pragma once
// Decoding of one display frame into the current reading. The meter sends its display as
// ASCII characters plus a few code bytes; the decoder takes the characters as they are.
//
// A conversion that fails ends the decode at that step with a DecodeError: what earlier
// steps set (reading fields and panel) stays, later steps do not happen.
#include <stdexcept>
#include <string>

namespace rd780 {

class DecodeError : public std::runtime_error {
public:
    explicit DecodeError(const std::string& text) : std::runtime_error(text), text_(text) {}
    // The whole text: a frame's NUL byte quoted in it would end what() early.
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// The current reading, held by the caller (the window's module state).
struct ReadingRefs {
    std::string& Text;
    float& Value;
    std::string& Unit;
    std::string& Coupling;
    std::string& Auto;
};

struct ScaleSettings {
    int OverloadValue = 60;
    int ScaleZeroOffset = 400;
    int ScaleDivisions = 80;
    int BarOverloadPosition = 40;
};

// What a decode drives besides the reading, in the order the decode calls it.
class DecodeSink {
public:
    virtual ~DecodeSink() = default;
    virtual void showConnection() {}                                     // step 1
    virtual void showPointShape(int /*position*/) {}                     // step 4 (0: no point)
    virtual void showSign(bool /*negative*/) {}                          // step 5
    virtual void showDigits(char, char, char, char) {}                   // step 7
    virtual void hideUnitGlyphs() {}                                     // step 8
    virtual void showPrefix(char /*prefix*/) {}                          // step 9
    virtual void showFunction(int, char /*mode*/, char /*prefix*/) {}    // step 10
    virtual void showPointAgain(int /*position*/, bool /*hideThird*/) {} // step 11
    virtual void scalePointer(int /*value*/) {}                          // step 14
    virtual void offerForRecording() {}                                  // step 16
    virtual void setBar(int /*position*/) {}                             // step 17
    virtual void resetChart() {}                                         // step 18
    virtual void plotWaveform(const std::string& /*frameHex*/) {}        // step 19
};

// Decodes frameHex (uppercase or lowercase hexadecimal text).
void decodeFrame(const std::string& frameHex, const ScaleSettings& settings, ReadingRefs reading,
                 DecodeSink& sink);

// True when the frame text decodes without a DecodeError: what a frame candidate found in a
// byte stream must pass before it is taken for a frame.
bool decodableFrame(const std::string& frameHex);

// Decimal integer conversion as the display texts need it: leading spaces skipped, an
// optional sign, then digits only. Throws DecodeError naming the text.
int parseDisplayInteger(const std::string& text);

} // namespace rd780
