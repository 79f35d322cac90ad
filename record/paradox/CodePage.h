#pragma once
// Conversion of alpha texts between a table's code page and UTF-8 (glibc iconv).
#include <string>
#include <string_view>

typedef void* iconv_t;

namespace rd780::paradox {

class CodePage {
public:
    // codePage as the header gives it; sortOrder is the header's sort order name, which
    // identifies tables without a code page number (e.g. "BLROM800" for HP Roman-8).
    CodePage(int codePage, std::string_view sortOrder);
    ~CodePage();
    CodePage(const CodePage&) = delete;
    CodePage& operator=(const CodePage&) = delete;

    const std::string& name() const { return name_; }
    // Bytes the code page cannot map come out as U+FFFD; in 1252 every byte maps.
    std::string toUtf8(std::string_view bytes) const;
    // False when text holds a character the code page has no byte for.
    bool fromUtf8(std::string_view text, std::string& out) const;

private:
    std::string name_;
    iconv_t dec_;
    iconv_t enc_;
};

// Raw bytes (for example a meter's display) read as Windows Latin, every byte kept: the
// result encodes back to the same bytes in a 1252 table.
std::string windows1252ToUtf8(std::string_view bytes);

} // namespace rd780::paradox
