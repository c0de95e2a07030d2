#include "names.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <vector>

namespace server {

std::string name_problem(std::string_view s) {
    const int max_length = 20;
    if (s.empty()) return "the player name is empty";
    if (s.size() > 4 * max_length) return "the player name is longer than 20 characters";
    std::vector<UChar32> points;
    int32_t i = 0, n = static_cast<int32_t>(s.size());
    while (i < n) {
        UChar32 c;
        U8_NEXT(s.data(), i, n, c);
        if (c < 0) return "the player name is not valid UTF-8";
        points.push_back(c);
    }
    if (points.size() > max_length) return "the player name is longer than 20 characters";
    for (UChar32 c : points) {
        switch (u_charType(c)) {
        case U_CONTROL_CHAR:
        case U_FORMAT_CHAR:
        case U_SURROGATE:
        case U_PRIVATE_USE_CHAR:
        case U_UNASSIGNED:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR:
            return "the player name has a control, format or unassigned character";
        default:
            break;
        }
        // Bidirectional controls are format characters today; fillers such as U+3164 are
        // letters that draw nothing. Neither may hide or reorder what a name shows.
        if (u_hasBinaryProperty(c, UCHAR_BIDI_CONTROL) ||
            u_hasBinaryProperty(c, UCHAR_DEFAULT_IGNORABLE_CODE_POINT) ||
            u_hasBinaryProperty(c, UCHAR_NONCHARACTER_CODE_POINT))
            return "the player name has an invisible or direction-changing character";
        if (!u_isprint(c)) return "the player name has a character that does not print";
    }
    if (u_isUWhiteSpace(points.front()) || u_isUWhiteSpace(points.back()))
        return "the player name starts or ends with a space";

    UErrorCode err = U_ZERO_ERROR;
    std::u16string utf16(2 * points.size(), u'\0');
    int32_t len16 = 0;
    u_strFromUTF8(reinterpret_cast<UChar *>(utf16.data()), static_cast<int32_t>(utf16.size()),
                  &len16, s.data(), n, &err);
    if (U_FAILURE(err)) return "the player name is not valid UTF-8";
    const UNormalizer2 *nfc = unorm2_getNFCInstance(&err);
    if (U_FAILURE(err)) return "the player name cannot be checked";
    UBool normal =
        unorm2_isNormalized(nfc, reinterpret_cast<const UChar *>(utf16.data()), len16, &err);
    if (U_FAILURE(err)) return "the player name cannot be checked";
    if (!normal) return "the player name is not in Unicode normal form C (NFC)";
    return "";
}

} // namespace server
