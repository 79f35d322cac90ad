#pragma once
// What the simulated LCD shows: each element's visibility and caption. The decoder's panel
// steps change this state; the panel widget only draws it.
#include <array>
#include <cstddef>
#include <string>

namespace rd780 {

enum class Lcd : std::size_t {
    LcdFH,
    LcdD0,
    LcdDa,
    LcdDb,
    LcdDc,
    LcdP0,
    LcdP1,
    LcdP2,
    LcdAC,
    LcdDc1,
    LCDBF,
    LCDDI,
    LCDk,
    LCDM1,
    Lcdm,
    LCDn,
    LCDu,
    LCDFm,
    LCDohm,
    LCDHz,
    LcdV,
    LCDA,
    LCDF,
    LcdAuto,
    LCDHold,
    LCDRec,
    LCDBATT,
    LCDTRMS,
    LCDTRMST,
    LcdACDC,
    LCDJa,
    Count
};
constexpr std::size_t LcdCount = static_cast<std::size_t>(Lcd::Count);

enum class LcdFont { Segment, SegmentBold, ArialBold, Arial };

// The design of one element: place, caption at start, font and visibility at start.
struct LcdElementDesign {
    const char* name;
    int left, top;
    int width, height; // fixed size, or 0 for labels sized by their text
    const char* caption;
    int fontHeight; // pixels; 0 for the point shapes
    LcdFont font;
    bool shownAtStart;
    bool isPoint;
};

const LcdElementDesign& lcdDesign(Lcd e);

class LcdPanelState {
public:
    LcdPanelState();

    bool visible(Lcd e) const { return visible_[idx(e)]; }
    const std::string& caption(Lcd e) const { return caption_[idx(e)]; }
    void setVisible(Lcd e, bool v) { visible_[idx(e)] = v; }
    void setCaption(Lcd e, std::string c) { caption_[idx(e)] = std::move(c); }

    // Panel steps of one decode (the decoder calls them at fixed points).
    void showPointShape(int position); // 0 for no point
    void showSign(bool negative);
    void showDigits(char d1, char d2, char d3, char d4);
    void hideUnitGlyphs();
    void showPrefix(char prefix);
    void showFunction(int code, char modeDigit, char prefix);
    void showPointAgain(int position, bool hideThirdPoint);

    bool operator==(const LcdPanelState&) const = default;

private:
    static constexpr std::size_t idx(Lcd e) { return static_cast<std::size_t>(e); }
    std::array<bool, LcdCount> visible_{};
    std::array<std::string, LcdCount> caption_;
};

} // namespace rd780
