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
        // An unmapped byte: replacement character, then go on.
        *o++ = '\xEF';
        *o++ = '\xBF';
        *o++ = '\xBD';
        oLeft -= 3;
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
    if (iconv(enc_, &in, &inLeft, &o, &oLeft) == static_cast<size_t>(-1)) return false;
    out.resize(out.size() - oLeft);
    return true;
}

} // namespace rd780::paradox
