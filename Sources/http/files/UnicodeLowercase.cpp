#include "http/files/UnicodeLowercase.h"

#include "http/Strings.h"

#include <locale.h>

#include <clocale>
#include <cwctype>

namespace vuzozar {

namespace {

// The C library's Unicode character data, independent of the locale the
// process runs in; nothing where the C.UTF-8 locale is not installed, and
// then only A to Z are lowercased.
locale_t unicodeLocale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    return locale;
}

void appendUtf8(std::string& text, char32_t scalar) {
    if (scalar < 0x80) {
        text += char(scalar);
    } else if (scalar < 0x800) {
        text += char(0xC0 | (scalar >> 6));
        text += char(0x80 | (scalar & 0x3F));
    } else if (scalar < 0x10000) {
        text += char(0xE0 | (scalar >> 12));
        text += char(0x80 | ((scalar >> 6) & 0x3F));
        text += char(0x80 | (scalar & 0x3F));
    } else {
        text += char(0xF0 | (scalar >> 18));
        text += char(0x80 | ((scalar >> 12) & 0x3F));
        text += char(0x80 | ((scalar >> 6) & 0x3F));
        text += char(0x80 | (scalar & 0x3F));
    }
}

} // namespace

std::string unicodeLowercased(std::string_view text) {
    locale_t locale = unicodeLocale();
    if (!locale) {
        return lowercased(text);
    }
    std::string result;
    result.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        if (auto scalar = nextScalar(text, at)) {
            appendUtf8(result, char32_t(towlower_l(wint_t(*scalar), locale)));
        } else {
            result += text[at++];
        }
    }
    return result;
}

} // namespace vuzozar
