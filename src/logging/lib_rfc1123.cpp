#include "logging/lib_rfc1123.h"

#include "logging/DecimalText.h"

#include <cstring>
#include <ctime>
#include <limits>

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthsUpper[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// AWidth decimal digits of a value that has no more of them, from the end.
void PutDigits(char* AInto, int AValue, int AWidth) {
    for (int i = AWidth - 1; i >= 0; --i, AValue /= 10)
        AInto[i] = static_cast<char>('0' + AValue % 10);
}

bool IsDigit(char AChar) {
    return AChar >= '0' && AChar <= '9';
}

bool IsLetter(char AChar) {
    return (AChar >= 'A' && AChar <= 'Z') || (AChar >= 'a' && AChar <= 'z');
}

// Skips what AClass rejects, takes the run it accepts, then drops one more character.
template <typename TClass> std::string NextToken(std::string& AText, TClass AClass) {
    std::size_t start = 0;
    while (start < AText.size() && !AClass(AText[start]))
        ++start;
    std::size_t end = start;
    while (end < AText.size() && AClass(AText[end]))
        ++end;
    std::string token = AText.substr(start, end - start);
    AText.erase(0, end < AText.size() ? end + 1 : end);
    return token;
}

bool NextNumber(std::string& AText, int& AResult) {
    std::string token = NextToken(AText, IsDigit);
    if (token.empty())
        return false;
    long long value = 0;
    for (char c : token) {
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<int>::max())
            return false;
    }
    AResult = static_cast<int>(value);
    return true;
}

bool NextMonth(std::string& AText, int& AResult) {
    std::string token = NextToken(AText, IsLetter);
    for (char& c : token)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    for (int i = 0; i < 12; ++i)
        if (token == kMonthsUpper[i]) {
            AResult = i + 1;
            return true;
        }
    return false;
}

// Trims blanks and tabs at both ends, then drops the weekday word up to the first blank.
std::string WithoutWeekday(const std::string& AText) {
    std::size_t first = AText.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    std::size_t last = AText.find_last_not_of(" \t");
    std::string text = AText.substr(first, last - first + 1);
    std::size_t blank = text.find(' ');
    return blank == std::string::npos ? std::string() : text.substr(blank + 1);
}

int CompleteYear(int AYear) {
    if (AYear < 50)
        return AYear + 2000;
    if (AYear < 200)
        return AYear + 1900;
    return AYear;
}

} // namespace

int UtcBiasSeconds() {
    const std::optional<long> offset =
        UtcOffsetAt(std::chrono::system_clock::to_time_t(ClockNow()));
    return offset ? static_cast<int>(-*offset) : 0;
}

void AppendHttpDate(std::string& AText, TDateTime AValue) {
    TDateTime gmt = AValue + UtcBiasSeconds() / SecsPerDay;
    TDateTimeParts p = DecodeDateTime(gmt);
    if (p.Year >= 1000 && p.Year <= 9999) {
        // Every answer carries up to three dates: the usual ones are filled in place.
        char text[] = "Sun, 00 Jan 0000 00:00:00 GMT";
        std::memcpy(text, kDayNames[p.DayOfWeek], 3);
        PutDigits(text + 5, p.Day, 2);
        std::memcpy(text + 8, MonthAbbreviations + 3 * (p.Month - 1), 3);
        PutDigits(text + 12, p.Year, 4);
        PutDigits(text + 17, p.Hour, 2);
        PutDigits(text + 20, p.Minute, 2);
        PutDigits(text + 23, p.Second, 2);
        AText.append(text, sizeof text - 1);
        return;
    }
    AText.append(kDayNames[p.DayOfWeek]).append(", ");
    AppendDayMonthYear(AText, p, ' ', 1);
    AText += ' ';
    AppendClockTime(AText, p);
    AText += " GMT";
}

std::string FormatHttpDate(TDateTime AValue) {
    std::string text;
    text.reserve(32);
    AppendHttpDate(text, AValue);
    return text;
}

TDateTime ParseHttpDate(const std::string& AText) {
    int bias = UtcBiasSeconds();
    std::string rest = WithoutWeekday(AText);
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (!NextNumber(rest, day) || !NextMonth(rest, month) || !NextNumber(rest, year) ||
        !NextNumber(rest, hour) || !NextNumber(rest, minute) || !NextNumber(rest, second))
        return HttpDateInvalid;
    TDateTime value = 0.0;
    if (!TryEncodeDateTime(CompleteYear(year), month, day, hour, minute, second, 0, value))
        return HttpDateInvalid;
    return value - bias / SecsPerDay;
}
