#include "logging/LogText.h"

#include <gtest/gtest.h>

namespace {

using Esc = TLogEscape;

TEST(LogTextTest, EscapesWhatCouldStartARecordOrDriveATerminal) {
    struct Case {
        std::string Raw;
        Esc Escape;
        std::string Written;
    };
    const Case cases[] = {
        // Printable ASCII stays byte for byte everywhere it is not a field separator.
        {"Mozilla/5.0 (X11) ~{}|\\\"", Esc::Text, "Mozilla/5.0 (X11) ~{}|\\\""},
        {"a\r\nFrom: 6.6.6.6", Esc::Text, "a\\x0D\\x0AFrom: 6.6.6.6"},
        {"a\r\nb", Esc::Lines, "a\r\nb"},
        {std::string("\x1B]0;x\x07\x00\t\x7F", 9), Esc::Lines, "\\x1B]0;x\\x07\\x00\\x09\\x7F"},
        // Well-formed UTF-8 stays on screen; C1 controls, overlong forms, surrogates, values
        // past U+10FFFF and stray or cut-off bytes do not.
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", Esc::Text,
         "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"\xC2\x9B"
         "31m",
         Esc::Text, "\\xC2\\x9B31m"},
        {"\xC0\xAF \xE0\x80\xAF \xED\xA0\x80", Esc::Text,
         "\\xC0\\xAF \\xE0\\x80\\xAF \\xED\\xA0\\x80"},
        {"\xF4\x90\x80\x80 \xFF \xE2\x82", Esc::Text, "\\xF4\\x90\\x80\\x80 \\xFF \\xE2\\x82"},
        // The combined line: quoted fields keep blanks, unquoted ones cannot be shifted.
        {"a b [c] \"d\" \\ \xC3\xA9", Esc::Quoted, "a b [c] \\x22d\\x22 \\x5C \\xC3\\xA9"},
        {"a b [c] \"d\"", Esc::Unquoted, "a\\x20b\\x20\\x5Bc\\x5D\\x20\\x22d\\x22"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LogField(c.Raw, c.Escape), c.Written) << c.Raw;
}

TEST(LogTextTest, CutsAtTheLimitWithoutSplittingAnEscapeOrACharacter) {
    struct Case {
        std::string Raw;
        std::size_t Limit;
        std::string Written;
    };
    const Case cases[] = {
        {"abcdef", 6, "abcdef"},     // exactly at the limit: nothing is cut
        {"abcdefg", 6, "abcdef..."}, // one byte more
        {"abcd\x01", 6, "abcd..."},  // the escape would not fit whole
        {"ab\x01"
         "cd",
         6, "ab\\x01..."},              // it fits; what follows does not
        {"abcd\xC3\xA9", 5, "abcd..."}, // nor would the character
        {"", 0, ""},
        {"x", 0, "..."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LogField(c.Raw, Esc::Text, c.Limit), c.Written) << c.Raw;

    // Pieces form one field: the limit counts them together and the mark comes once.
    std::string out = "<";
    AppendLogField(out, {"GET", " ", "/t.gif", " ", std::string(5000, 'p'), " ", "HTTP/1.1"},
                   Esc::Quoted, LogRequestLimit);
    EXPECT_EQ(out.size(), 1 + LogRequestLimit + LogCutMark.size());
    EXPECT_EQ(out.substr(0, 13), "<GET /t.gif p");
    EXPECT_EQ(out.substr(out.size() - 4), "p...");

    // However hostile, a field never writes more than its limit and the mark.
    const std::string hostile(100000, '\x1B');
    for (Esc escape : {Esc::Text, Esc::Lines, Esc::Quoted, Esc::Unquoted})
        EXPECT_EQ(LogField(hostile, escape).size(), LogFieldLimit + LogCutMark.size());
}

} // namespace
