#include "meter/core/FrameAssembler.h"

namespace rd780 {

namespace {
constexpr char HexDigits[] = "0123456789ABCDEF";
} // namespace

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void appendHex(std::string& text, const uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        text += HexDigits[data[i] >> 4];
        text += HexDigits[data[i] & 0x0F];
    }
}

bool flushChunk(std::string& frameHex, const std::string& chunk) {
    if (chunk.size() >= 2 && chunk[0] == '5' && chunk[1] == 'A')
        frameHex = chunk;
    else
        frameHex += chunk;
    if (frameHex.size() > LongFrameChars) {
        frameHex.clear();
        return false;
    }
    const bool starts = frameHex.size() >= 2 && frameHex[0] == '5' && frameHex[1] == 'A';
    return starts && (frameHex.size() == ShortFrameChars || frameHex.size() == LongFrameChars);
}

std::string hidReportText(uint8_t reportId, const uint8_t* data, std::size_t size) {
    std::string text = "R ";
    appendHex(text, &reportId, 1);
    text += "  ";
    text.reserve(text.size() + size * 3);
    for (std::size_t i = 0; i < size; ++i) {
        appendHex(text, data + i, 1);
        text += ' ';
    }
    return text;
}

HidReportOutcome assembleHidReport(HidAssemblyState st, uint8_t reportId, const uint8_t* data,
                                   std::size_t size) {
    HidReportOutcome out;
    // Character 8 (1-based) of the report's text is the low digit of the first data byte:
    // the count digit. Most reports carry no meter byte, and their text is never shown.
    const bool hasCount = size >= 1;
    const char count = hasCount ? HexDigits[data[0] & 0x0F] : '\0';
    if (hasCount) {
        ++st.UsbIdleReports;
        ++st.UsbPollReports;
    }
    if (count >= '1' && count <= '9') {
        out.reportText = hidReportText(reportId, data, size);
        const std::string& text = out.reportText;
        st.UsbIdleReports = 0;
        st.UsbPollReports = 0;
        st.ChunkPending = true;
        const int n = count - '0';
        // Meter byte b sits at characters 7+3b and 8+3b; only those present are taken.
        for (int b = 1; b <= n; ++b) {
            const std::size_t first = static_cast<std::size_t>(6 + 3 * b); // 0-based
            if (first + 1 >= text.size()) break;
            st.ReportChunk += text[first];
            st.ReportChunk += text[first + 1];
        }
        out.dataReport = true;
        return out;
    }
    if (st.ChunkPending) {
        out.wholeFrame = flushChunk(st.FrameHex, st.ReportChunk);
        st.ReportChunk.clear();
    }
    st.ChunkPending = false;
    return out;
}

} // namespace rd780
