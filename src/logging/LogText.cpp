#include "logging/LogText.h"

#include <initializer_list>

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr std::size_t kEscapeWidth = 4; // \xHH

unsigned char ByteAt(std::string_view AText, std::size_t AIndex) {
    return static_cast<unsigned char>(AText[AIndex]);
}

// The length of the well-formed UTF-8 character at AIndex, or 0. C1 controls (U+0080 to
// U+009F) count as not well-formed: some terminals obey them as they obey ESC.
std::size_t Utf8Length(std::string_view AText, std::size_t AIndex) {
    const unsigned char lead = ByteAt(AText, AIndex);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        low = lead == 0xC2 ? 0xA0 : 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (AIndex + length > AText.size())
        return 0;
    const unsigned char second = ByteAt(AText, AIndex + 1);
    if (second < low || second > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k) {
        const unsigned char next = ByteAt(AText, AIndex + k);
        if (next < 0x80 || next > 0xBF)
            return 0;
    }
    return length;
}

// Printable ASCII bytes that a mode writes as they stand: one table per mode, so the common
// run of plain text costs one look-up a byte.
struct TPlainTable {
    bool Plain[256] = {};
};

constexpr TPlainTable PlainAsciiOf(TLogEscape AEscape) {
    TPlainTable table;
    // Bytes as unsigned indexes: a char subscript would be negative above 0x7F.
    auto mark = [&table](std::initializer_list<unsigned char> ABytes, bool APlain) {
        for (unsigned char c : ABytes)
            table.Plain[c] = APlain;
    };
    for (int c = 0x20; c < 0x7F; ++c)
        table.Plain[c] = true;
    if (AEscape == TLogEscape::Quoted || AEscape == TLogEscape::Unquoted)
        mark({'"', '\\'}, false);
    if (AEscape == TLogEscape::Unquoted)
        mark({' ', '[', ']'}, false);
    if (AEscape == TLogEscape::Lines)
        mark({'\r', '\n'}, true);
    return table;
}

constexpr TPlainTable PlainTables[] = {
    PlainAsciiOf(TLogEscape::Text), PlainAsciiOf(TLogEscape::Lines),
    PlainAsciiOf(TLogEscape::Quoted), PlainAsciiOf(TLogEscape::Unquoted)};

// How many bytes at AIndex are written as they stand; 0 when that byte is written as \xHH.
std::size_t PlainLength(std::string_view AText, std::size_t AIndex, TLogEscape AEscape) {
    const unsigned char c = ByteAt(AText, AIndex);
    if (PlainTables[static_cast<int>(AEscape)].Plain[c])
        return 1;
    if (c >= 0x80 && (AEscape == TLogEscape::Text || AEscape == TLogEscape::Lines))
        return Utf8Length(AText, AIndex);
    return 0;
}

// Writes pieces into one field until its limit; once cut, the rest is left out.
class TFieldWriter {
public:
    TFieldWriter(std::string& AOut, TLogEscape AEscape, std::size_t ALimit)
        : FOut(AOut), FEscape(AEscape), FLimit(ALimit) {}

    void Add(std::string_view APiece) {
        const TPlainTable& table = PlainTables[static_cast<int>(FEscape)];
        std::size_t plainStart = 0; // plain bytes not yet appended start here
        std::size_t i = 0;
        while (i < APiece.size() && !FCut) {
            // A run of plain ASCII, as far as the limit allows.
            std::size_t run = i;
            const std::size_t end = i + std::min(APiece.size() - i, FLimit - FUsed);
            while (run < end && table.Plain[ByteAt(APiece, run)])
                ++run;
            FUsed += run - i;
            i = run;
            if (i == APiece.size())
                break;
            const std::size_t plain = PlainLength(APiece, i, FEscape);
            const std::size_t width = plain > 0 ? plain : kEscapeWidth;
            if (width > FLimit - FUsed) {
                FCut = true;
                break;
            }
            FUsed += width;
            if (plain > 0) {
                i += plain;
                continue;
            }
            FOut.append(APiece.substr(plainStart, i - plainStart));
            const unsigned char byte = ByteAt(APiece, i);
            const char escape[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0x0F]};
            FOut.append(escape, sizeof escape);
            plainStart = ++i;
        }
        FOut.append(APiece.substr(plainStart, i - plainStart));
        if (FCut && !FMarked) {
            FOut.append(LogCutMark);
            FMarked = true;
        }
    }

    bool Whole() const { return !FCut; }

private:
    std::string& FOut;
    TLogEscape FEscape;
    std::size_t FLimit;
    std::size_t FUsed = 0;
    bool FCut = false;
    bool FMarked = false;
};

} // namespace

bool AppendLogField(std::string& AOut, std::initializer_list<std::string_view> APieces,
                    TLogEscape AEscape, std::size_t ALimit) {
    TFieldWriter writer(AOut, AEscape, ALimit);
    for (std::string_view piece : APieces)
        writer.Add(piece);
    return writer.Whole();
}

std::string LogField(std::string_view AText, TLogEscape AEscape, std::size_t ALimit) {
    std::string result;
    result.reserve(AText.size() < ALimit ? AText.size() : ALimit);
    AppendLogField(result, {AText}, AEscape, ALimit);
    return result;
}
