#include "shown_name.h"

#include <cstdint>

namespace lumivox::cli {

namespace {

    void appendOctal(std::string& text, unsigned char byte)
    {
        text += '\\';
        text += static_cast<char>('0' + ((byte >> 6) & 7));
        text += static_cast<char>('0' + ((byte >> 3) & 7));
        text += static_cast<char>('0' + (byte & 7));
    }

    // The length of the valid UTF-8 character of a printable code point at the start of text
    // (its first byte 0x80 or more), or 0 when there is none.
    std::size_t printableCharacterLength(std::string_view text)
    {
        const auto lead = static_cast<unsigned char>(text[0]);
        std::size_t length = 0;
        std::uint32_t codePoint = 0;
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
            codePoint = lead & 0x1fu;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            codePoint = lead & 0x0fu;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            codePoint = lead & 0x07u;
        } else {
            return 0;
        }
        if (text.size() < length)
            return 0;
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(text[i]);
            if ((next & 0xc0) != 0x80)
                return 0;
            codePoint = (codePoint << 6) | (next & 0x3fu);
        }
        const std::uint32_t least[] = { 0, 0, 0x80, 0x800, 0x10000 };
        const bool valid = codePoint >= least[length] && codePoint <= 0x10ffff
            && !(codePoint >= 0xd800 && codePoint <= 0xdfff);
        // The C1 controls and the line and paragraph separators act on a terminal too.
        const bool control = codePoint < 0xa0 || codePoint == 0x2028 || codePoint == 0x2029;
        return valid && !control ? length : 0;
    }

} // namespace

std::string shownName(std::string_view name)
{
    std::string shown;
    shown.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte >= 0x80) {
            if (const std::size_t length = printableCharacterLength(name.substr(i))) {
                shown.append(name.substr(i, length));
                i += length;
            } else {
                appendOctal(shown, byte);
                ++i;
            }
            continue;
        }
        ++i;
        switch (byte) {
        case '\a':
            shown += "\\a";
            continue;
        case '\b':
            shown += "\\b";
            continue;
        case '\t':
            shown += "\\t";
            continue;
        case '\n':
            shown += "\\n";
            continue;
        case '\v':
            shown += "\\v";
            continue;
        case '\f':
            shown += "\\f";
            continue;
        case '\r':
            shown += "\\r";
            continue;
        case '\\':
            shown += "\\\\";
            continue;
        default:
            break;
        }
        if (byte < 0x20 || byte == 0x7f)
            appendOctal(shown, byte);
        else
            shown += static_cast<char>(byte);
    }
    return shown;
}

std::string quotedName(std::string_view text)
{
    std::string result = "'";
    result += shownName(text);
    result += '\'';
    return result;
}

} // namespace lumivox::cli
