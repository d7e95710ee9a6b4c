// Decimal numbers with leading zeros for the dates, times and counts of log records and HTTP
// dates, without the printf family: they are written several times for every hit. Any thread.
#pragma once

#include <string>

#include "base/DateTime.h"

// The English month abbreviations of log and HTTP dates, three letters each from January on.
inline constexpr char MonthAbbreviations[] = "JanFebMarAprMayJunJulAugSepOctNovDec";

// Appends AValue with at least AWidth characters, zeros in front of the digits, as "%0*d"
// would (a minus sign counts towards the width).
inline void AppendDigits(std::string& AText, long long AValue, int AWidth) {
    // Filled from the end, then appended in one piece.
    char text[48];
    char* first = text + sizeof text;
    const unsigned long long magnitude = static_cast<unsigned long long>(AValue);
    unsigned long long value = AValue < 0 ? 0ULL - magnitude : magnitude;
    do {
        *--first = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    const int width = AValue < 0 ? AWidth - 1 : AWidth;
    while (text + sizeof text - first < width && first > text + 1)
        *--first = '0';
    if (AValue < 0)
        *--first = '-';
    AText.append(first, static_cast<std::size_t>(text + sizeof text - first));
}

inline std::string DigitsText(long long AValue, int AWidth = 1) {
    std::string text;
    AppendDigits(text, AValue, AWidth);
    return text;
}

// "08:49:37": hours, minutes and seconds of AParts.
inline void AppendClockTime(std::string& AText, const TDateTimeParts& AParts) {
    AppendDigits(AText, AParts.Hour, 2);
    AText += ':';
    AppendDigits(AText, AParts.Minute, 2);
    AText += ':';
    AppendDigits(AText, AParts.Second, 2);
}

// "09 Dec 2026" (HTTP dates) or "09/Dec/2026" (log dates): the day, the English month
// abbreviation and the year of AParts with ASeparator between them; the year has at least
// AYearWidth digits.
inline void AppendDayMonthYear(std::string& AText, const TDateTimeParts& AParts, char ASeparator,
                               int AYearWidth) {
    AppendDigits(AText, AParts.Day, 2);
    AText.append(1, ASeparator).append(MonthAbbreviations + 3 * (AParts.Month - 1), 3);
    AText += ASeparator;
    AppendDigits(AText, AParts.Year, AYearWidth);
}

// "08:49:37:125": the clock time and the milliseconds of AParts.
inline void AppendTimeOfDay(std::string& AText, const TDateTimeParts& AParts) {
    AppendClockTime(AText, AParts);
    AText += ':';
    AppendDigits(AText, AParts.MSec, 3);
}
