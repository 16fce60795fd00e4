#include "kbd/views/unicode_names.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include "kbd/image/error.h"

namespace kbd {

std::string charName(char32_t ch) {
    char buf[256];
    UErrorCode err = U_ZERO_ERROR;
    int32_t n = u_charName(static_cast<UChar32>(ch), U_UNICODE_CHAR_NAME, buf, sizeof buf, &err);
    if (U_SUCCESS(err) && n > 0) return std::string(buf, static_cast<size_t>(n));
    err = U_ZERO_ERROR;
    n = u_charName(static_cast<UChar32>(ch), U_EXTENDED_CHAR_NAME, buf, sizeof buf, &err);
    return U_SUCCESS(err) && n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string glyph(char32_t ch) {
    const auto append = [](std::string& s, UChar32 c) {
        char buf[4];
        int32_t n = 0;
        UBool error = false;
        U8_APPEND(reinterpret_cast<uint8_t*>(buf), n, 4, c, error);
        if (!error) s.append(buf, static_cast<size_t>(n));
    };
    std::string out;
    switch (u_charType(static_cast<UChar32>(ch))) {
    case U_CONTROL_CHAR: case U_FORMAT_CHAR: case U_PRIVATE_USE_CHAR: case U_SURROGATE: case U_UNASSIGNED:
    case U_SPACE_SEPARATOR: case U_LINE_SEPARATOR: case U_PARAGRAPH_SEPARATOR:
        return out;
    case U_NON_SPACING_MARK: case U_ENCLOSING_MARK: case U_COMBINING_SPACING_MARK:
        append(out, 0x25CC);  // dotted circle
        break;
    default:
        break;
    }
    append(out, static_cast<UChar32>(ch));
    return out;
}

std::u16string fromUtf8(std::string_view text) {
    if (text.size() > INT32_MAX / 2) throw Error("the text is too long");
    std::u16string out(text.size(), u'\0');  // never more UTF-16 units than UTF-8 bytes
    int32_t n = 0;
    UErrorCode err = U_ZERO_ERROR;
    u_strFromUTF8(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &n, text.data(),
                  static_cast<int32_t>(text.size()), &err);
    if (U_FAILURE(err)) throw Error("the text is not valid UTF-8");
    out.resize(static_cast<size_t>(n));
    return out;
}

}  // namespace kbd
