#include "http/NetHTTPText.h"

#include <algorithm>

#include "base/HexDigit.h"

namespace {

char UpperAscii(char AChar) {
    return (AChar >= 'a' && AChar <= 'z') ? static_cast<char>(AChar - 'a' + 'A') : AChar;
}

bool IsCtlOrBlank(char AChar) {
    return static_cast<unsigned char>(AChar) <= 32;
}

// Value of one to two hex digits, or -1 when empty or any of them is not a digit. A '+' counts
// as the blank it stands for, which is no digit either.
int HexValue(std::string_view ADigits) {
    if (ADigits.empty())
        return -1;
    int value = 0;
    for (char c : ADigits) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

} // namespace

std::string TakeUntil(std::string& AText, const std::string& ADelimiter, bool ARemove) {
    const size_t pos = AText.find(ADelimiter);
    if (pos == std::string::npos) {
        std::string all = AText;
        if (ARemove)
            AText.clear();
        return all;
    }
    std::string head = AText.substr(0, pos);
    if (ARemove)
        AText.erase(0, pos + ADelimiter.size());
    return head;
}

int LastPos(const std::string& ASub, const std::string& AText) {
    if (ASub.empty() || ASub.size() > AText.size())
        return 0;
    const std::string sub = UpperCaseAscii(ASub);
    const std::string text = UpperCaseAscii(AText);
    const size_t pos = text.rfind(sub);
    return pos == std::string::npos ? 0 : static_cast<int>(pos) + 1;
}

std::string DecodeParam(std::string_view AItem) {
    // One pass, no copy of the item: a '+' becomes a blank as it is met, and an escape that
    // gives '+' stays a '+'.
    std::string result;
    result.reserve(AItem.size());
    for (size_t i = 0; i < AItem.size(); ++i) {
        if (AItem[i] != '%') {
            result += AItem[i] == '+' ? ' ' : AItem[i];
            continue;
        }
        const int value = HexValue(AItem.substr(i + 1, 2));
        if (value >= 1 && value <= 255)
            result += static_cast<char>(value);
        i += std::min<size_t>(2, AItem.size() - i - 1);
    }
    return result;
}

std::string UpperCaseAscii(std::string AText) {
    for (char& c : AText)
        c = UpperAscii(c);
    return AText;
}

bool SameTextAscii(std::string_view A, std::string_view B) {
    return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char x, char y) {
               return UpperAscii(x) == UpperAscii(y);
           });
}

std::string TrimLeftCtl(std::string AText) {
    size_t start = 0;
    while (start < AText.size() && IsCtlOrBlank(AText[start]))
        ++start;
    AText.erase(0, start);
    return AText;
}

std::string TrimRightCtl(const std::string& AText) {
    size_t end = AText.size();
    while (end > 0 && IsCtlOrBlank(AText[end - 1]))
        --end;
    return AText.substr(0, end);
}

std::string TrimCtl(const std::string& AText) {
    return TrimLeftCtl(TrimRightCtl(AText));
}

bool OnlyCtl(std::string_view AText) {
    return std::all_of(AText.begin(), AText.end(), IsCtlOrBlank);
}

std::string_view TrimmedBlanks(std::string_view AText) {
    while (!AText.empty() && IsHeaderBlank(AText.front()))
        AText.remove_prefix(1);
    while (!AText.empty() && IsHeaderBlank(AText.back()))
        AText.remove_suffix(1);
    return AText;
}

bool MayNameAFile(const std::string& AText) {
    return AText.find_first_of("/\\") != std::string::npos;
}
