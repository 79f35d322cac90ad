#include "CodePage.h"

#include <algorithm>
#include <cctype>
#include <iconv.h>

namespace rd780::paradox {

namespace {

const iconv_t kNoConv = reinterpret_cast<iconv_t>(-1);

std::string iconvName(int cp, std::string_view sortOrder) {
    std::string upper(sortOrder);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper.find("ROM8") != std::string::npos) return "HP-ROMAN8";
    switch (cp) {
    case 437:
    case 850:
    case 852:
    case 860:
    case 861:
    case 863:
    case 865:
    case 866:
        return "IBM" + std::to_string(cp);
    case 0:
        return "CP1252";
    default:
        return "CP" + std::to_string(cp);
    }
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return (c & 0x80) == 0; });
}

// The five bytes Windows Latin leaves undefined stand for the C1 controls of the same
// number, so every byte survives a round trip through UTF-8.
bool isUndefinedIn1252(unsigned char c) {
    return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

CodePage::CodePage(int codePage, std::string_view sortOrder)
    : name_(iconvName(codePage, sortOrder)) {
    dec_ = iconv_open("UTF-8", name_.c_str());
    enc_ = iconv_open(name_.c_str(), "UTF-8");
    if (dec_ == kNoConv || enc_ == kNoConv) {
        // An unknown code page still reads: as Windows Latin.
        if (dec_ != kNoConv) iconv_close(dec_);
        if (enc_ != kNoConv) iconv_close(enc_);
        name_ = "CP1252";
        dec_ = iconv_open("UTF-8", "CP1252");
        enc_ = iconv_open("CP1252", "UTF-8");
    }
}

CodePage::~CodePage() {
    if (dec_ != kNoConv) iconv_close(dec_);
    if (enc_ != kNoConv) iconv_close(enc_);
}

std::string CodePage::toUtf8(std::string_view bytes) const {
    if (isAscii(bytes) || dec_ == kNoConv) return std::string(bytes);
    std::string out;
    out.resize(bytes.size() * 4 + 8);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char* o = out.data();
    size_t oLeft = out.size();
    iconv(dec_, nullptr, nullptr, nullptr, nullptr);
    while (inLeft > 0) {
        if (iconv(dec_, &in, &inLeft, &o, &oLeft) != static_cast<size_t>(-1)) break;
        if (oLeft < 3) break; // cannot happen with 4 bytes per input byte
        const auto c = static_cast<unsigned char>(*in);
        if (name_ == "CP1252" && isUndefinedIn1252(c)) {
            *o++ = '\xC2';
            *o++ = static_cast<char>(c);
            oLeft -= 2;
        } else {
            // An unmapped byte: replacement character, then go on.
            *o++ = '\xEF';
            *o++ = '\xBF';
            *o++ = '\xBD';
            oLeft -= 3;
        }
        ++in;
        --inLeft;
    }
    out.resize(out.size() - oLeft);
    return out;
}

bool CodePage::fromUtf8(std::string_view text, std::string& out) const {
    if (isAscii(text)) {
        out.assign(text);
        return true;
    }
    if (enc_ == kNoConv) return false;
    out.assign(text.size() + 8, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* o = out.data();
    size_t oLeft = out.size();
    iconv(enc_, nullptr, nullptr, nullptr, nullptr);
    while (iconv(enc_, &in, &inLeft, &o, &oLeft) == static_cast<size_t>(-1)) {
        const auto c = inLeft >= 2 ? static_cast<unsigned char>(in[1]) : 0;
        if (name_ != "CP1252" || static_cast<unsigned char>(in[0]) != 0xC2 ||
            !isUndefinedIn1252(c) || oLeft == 0)
            return false;
        *o++ = static_cast<char>(c);
        --oLeft;
        in += 2;
        inLeft -= 2;
    }
    out.resize(out.size() - oLeft);
    return true;
}

std::string windows1252ToUtf8(std::string_view bytes) {
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        appendUtf8(out, c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c);
    }
    return out;
}

} // namespace rd780::paradox
