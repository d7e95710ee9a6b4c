// Well-formed UTF-8, shared by the layers that read client text as characters.
// A pure function; any thread.
#pragma once

#include <cstddef>
#include <string_view>

// The length of the UTF-8 character at AAt (2 to 4), or 0 when the bytes there are not one
// (an ASCII byte, a bad lead or continuation byte, an overlong form, a surrogate, a code point
// above U+10FFFF, or a character cut off by the end of the text).
constexpr std::size_t Utf8Length(std::string_view AText, std::size_t AAt) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(AText[i]); };
    const unsigned lead = byte(AAt);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || AAt + length > AText.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(AAt + i) & 0xC0) != 0x80)
            return 0;
    const unsigned second = byte(AAt + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

// The code point of the well-formed character of ALength bytes at AAt.
constexpr char32_t Utf8CodePoint(std::string_view AText, std::size_t AAt, std::size_t ALength) {
    const auto lead = static_cast<unsigned char>(AText[AAt]);
    char32_t point = ALength == 2 ? lead & 0x1F : ALength == 3 ? lead & 0x0F : lead & 0x07;
    for (std::size_t i = 1; i < ALength; ++i)
        point = point << 6 | (static_cast<unsigned char>(AText[AAt + i]) & 0x3F);
    return point;
}
