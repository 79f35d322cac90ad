#include "meter/core/LcdPanelState.h"

namespace rd780 {

namespace {
using F = LcdFont;
// clang-format off
const std::array<LcdElementDesign, LcdCount> Design = {{
    {"LcdFH",    13, 15, 36, 112, "-",     113, F::Segment,     false, false},
    {"LcdD0",    48, 15, 0, 0,    "3",     113, F::Segment,     true,  false},
    {"LcdDa",   104, 15, 0, 0,    "9",     113, F::Segment,     true,  false},
    {"LcdDb",   160, 15, 0, 0,    "9",     113, F::Segment,     true,  false},
    {"LcdDc",   216, 15, 0, 0,    "9",     113, F::Segment,     true,  false},
    {"LcdP0",    94, 110, 7, 8,   "",        0, F::Segment,     true,  true},
    {"LcdP1",   151, 110, 7, 8,   "",        0, F::Segment,     false, true},
    {"LcdP2",   207, 110, 7, 8,   "",        0, F::Segment,     false, true},
    {"LcdAC",   182, 14, 0, 0,    "AC",     20, F::SegmentBold, false, false},
    {"LcdDc1",  223, 14, 0, 0,    "DC",     20, F::SegmentBold, false, false},
    {"LCDBF",   104, 8, 0, 0,     "DUTY",   20, F::SegmentBold, false, false},
    {"LCDDI",   256, 9, 0, 0,     ")",      29, F::Segment,     false, false},
    {"LCDk",    286, 55, 0, 0,    "k",      27, F::Segment,     false, false},
    {"LCDM1",   278, 57, 0, 0,    "M",      24, F::Segment,     false, false},
    {"Lcdm",    280, 81, 0, 0,    "m",      24, F::Segment,     false, false},
    {"LCDn",    288, 82, 0, 0,    "n",      24, F::Segment,     false, false},
    {"LCDu",    288, 75, 0, 0,    "+",      32, F::Segment,     false, false},
    {"LCDFm",   280, 55, 25, 36,  "&",      32, F::Segment,     false, false},
    {"LCDohm",  304, 54, 0, 0,    "*",      29, F::Segment,     false, false},
    {"LCDHz",   296, 58, 0, 0,    "Hz",     24, F::Segment,     false, false},
    {"LcdV",    304, 83, 0, 0,    "V",      24, F::Segment,     true,  false},
    {"LCDA",    304, 82, 0, 0,    "A",      24, F::Segment,     false, false},
    {"LCDF",    304, 82, 0, 0,    "F",      24, F::Segment,     false, false},
    {"LcdAuto",   8, 11, 0, 0,    "AUTO",   19, F::SegmentBold, false, false},
    {"LCDHold",   8, 30, 0, 0,    "\"",     35, F::Segment,     false, false},
    {"LCDRec",  160, 3, 0, 0,     "!",      32, F::Segment,     false, false},
    {"LCDBATT",   8, 88, 0, 0,    "$",      35, F::Segment,     false, false},
    {"LCDTRMS", 288, 11, 0, 0,    "uF",     12, F::SegmentBold, false, false},
    {"LCDTRMST",309, 29, 0, 0,    "T",      19, F::SegmentBold, false, false},
    {"LcdACDC",  77, 14, 0, 0,    "AC+DC",  16, F::ArialBold,   false, false},
    {"LCDJa",   211, 13, 0, 0,    "+",      21, F::Arial,       false, false},
}};
// clang-format on
} // namespace

const LcdElementDesign& lcdDesign(Lcd e) { return Design[static_cast<std::size_t>(e)]; }

LcdPanelState::LcdPanelState() {
    for (std::size_t i = 0; i < LcdCount; ++i) {
        visible_[i] = Design[i].shownAtStart;
        caption_[i] = Design[i].caption;
    }
}

void LcdPanelState::showPointShape(int position) {
    setVisible(Lcd::LcdP0, position == 1);
    setVisible(Lcd::LcdP1, position == 2);
    setVisible(Lcd::LcdP2, position == 3);
}

void LcdPanelState::showSign(bool negative) { setVisible(Lcd::LcdFH, negative); }

void LcdPanelState::showDigits(char d1, char d2, char d3, char d4) {
    setCaption(Lcd::LcdD0, std::string(1, d1));
    setCaption(Lcd::LcdDa, std::string(1, d2));
    setCaption(Lcd::LcdDb, std::string(1, d3));
    setCaption(Lcd::LcdDc, std::string(1, d4));
}

void LcdPanelState::hideUnitGlyphs() {
    for (Lcd e : {Lcd::LcdV, Lcd::Lcdm, Lcd::LCDohm, Lcd::LCDk, Lcd::LCDM1, Lcd::LCDF, Lcd::LCDn,
                  Lcd::LCDu, Lcd::LCDA, Lcd::LCDHz, Lcd::LCDBF, Lcd::LCDFm, Lcd::LCDDI,
                  Lcd::LcdAC, Lcd::LcdDc1})
        setVisible(e, false);
}

void LcdPanelState::showPrefix(char prefix) {
    switch (prefix) {
    case 'm': setVisible(Lcd::Lcdm, true); break;
    case 'k': setVisible(Lcd::LCDk, true); break;
    case 'M': setVisible(Lcd::LCDM1, true); break;
    case 'n': setVisible(Lcd::LCDn, true); break;
    case 'u': setVisible(Lcd::LCDu, true); break;
    default: break;
    }
}

void LcdPanelState::showFunction(int code, char modeDigit, char prefix) {
    auto coupling = [&] { setVisible(modeDigit == '0' ? Lcd::LcdDc1 : Lcd::LcdAC, true); };
    switch (code) {
    case 0:
        setVisible(Lcd::LcdV, true);
        coupling();
        break;
    case 1:
        setVisible(Lcd::LCDA, true);
        if (prefix == 'A') setVisible(Lcd::LCDu, true);
        coupling();
        break;
    case 2:
        setVisible(Lcd::LCDHz, true);
        if (modeDigit == '1') {
            setVisible(Lcd::LCDBF, true);
            setVisible(Lcd::LCDHz, false);
        }
        break;
    case 3: setVisible(Lcd::LCDF, true); break;
    case 4: setVisible(Lcd::LCDohm, true); break;
    case 5:
        setVisible(Lcd::LCDFm, true);
        setVisible(Lcd::LCDohm, true);
        break;
    case 6:
        setVisible(Lcd::LCDDI, true);
        setVisible(Lcd::LcdV, true);
        break;
    default: break;
    }
}

void LcdPanelState::showPointAgain(int position, bool hideThirdPoint) {
    showPointShape(position);
    if (hideThirdPoint) setVisible(Lcd::LcdP2, false);
}

} // namespace rd780
