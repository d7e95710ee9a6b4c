#include "config/TProfileFile.h"

#include <cstdint>

#include "base/HexDigit.h"
#include "config/FileText.h"

namespace {

constexpr size_t npos = std::string::npos;

std::string Trimmed(const std::string& AText) {
    size_t first = AText.find_first_not_of(" \t");
    if (first == npos)
        return {};
    size_t last = AText.find_last_not_of(" \t");
    return AText.substr(first, last - first + 1);
}

bool SameName(const std::string& A, const std::string& B) {
    if (A.size() != B.size())
        return false;
    for (size_t i = 0; i < A.size(); ++i) {
        auto a = static_cast<unsigned char>(A[i]);
        auto b = static_cast<unsigned char>(B[i]);
        if (a != b && !(a >= 'A' && a <= 'Z' && a + 32 == b) &&
            !(b >= 'A' && b <= 'Z' && b + 32 == a))
            return false;
    }
    return true;
}

bool IsSectionLine(const std::string& ALine) {
    return Trimmed(ALine).starts_with('[');
}

std::string SectionNameOf(const std::string& ALine) {
    std::string text = Trimmed(ALine).substr(1);
    return Trimmed(text.substr(0, text.find(']')));
}

// The key name of a "Key=Value" line; false for a line without "=".
bool KeyNameOf(const std::string& ALine, std::string& AName) {
    size_t equals = ALine.find('=');
    if (equals == npos)
        return false;
    AName = Trimmed(ALine.substr(0, equals));
    return true;
}

// Digits only, in base 10 or 16, at most ALimit; false on anything else or overflow.
bool ParseDigits(const std::string& ADigits, int ABase, uint64_t ALimit, uint64_t& AValue) {
    if (ADigits.empty())
        return false;
    AValue = 0;
    for (char c : ADigits) {
        int digit = HexDigit(c);
        if (digit < 0 || digit >= ABase)
            return false;
        AValue = AValue * static_cast<uint64_t>(ABase) + static_cast<uint64_t>(digit);
        if (AValue > ALimit)
            return false;
    }
    return true;
}

// Decimal within 32 signed bits, or hexadecimal of up to 32 bits read as their signed value.
bool ParseInteger(const std::string& AText, int32_t& AValue) {
    bool negative = !AText.empty() && AText[0] == '-';
    size_t start = (!AText.empty() && (AText[0] == '-' || AText[0] == '+')) ? 1 : 0;
    bool hex = AText.size() > start + 1 && AText[start] == '0' &&
               (AText[start + 1] == 'x' || AText[start + 1] == 'X');
    uint64_t value = 0;
    if (hex) {
        if (!ParseDigits(AText.substr(start + 2), 16, UINT32_MAX, value))
            return false;
        auto bits = static_cast<uint32_t>(value);
        AValue = static_cast<int32_t>(negative ? 0u - bits : bits);
        return true;
    }
    uint64_t limit = negative ? uint64_t{INT32_MAX} + 1 : uint64_t{INT32_MAX};
    if (!ParseDigits(AText.substr(start), 10, limit, value))
        return false;
    AValue =
        negative ? static_cast<int32_t>(-static_cast<int64_t>(value)) : static_cast<int32_t>(value);
    return true;
}

bool BreaksLine(const std::string& AText) {
    return AText.find_first_of("\r\n") != npos;
}

} // namespace

bool TProfileFile::Load() {
    std::string text;
    TFileReadResult result = ReadFileText(FPath, text);
    SetText(text);
    return result != TFileReadResult::Failed;
}

bool TProfileFile::Save() const {
    return ReplaceFileText(FPath, Text());
}

std::string TProfileFile::ReadString(const std::string& ASection, const std::string& AKey,
                                     const std::string& ADefault) const {
    size_t line = FindKey(FindSection(ASection), AKey);
    if (line == npos)
        return ADefault;
    const std::string& text = FLines[line].Text;
    return Trimmed(text.substr(text.find('=') + 1)).substr(0, MaxTextLength);
}

int32_t TProfileFile::ReadInteger(const std::string& ASection, const std::string& AKey,
                                  int32_t ADefault) const {
    int32_t value = 0;
    return ParseInteger(ReadString(ASection, AKey, ""), value) ? value : ADefault;
}

bool TProfileFile::ReadBool(const std::string& ASection, const std::string& AKey,
                            bool ADefault) const {
    return ReadInteger(ASection, AKey, ADefault ? 1 : 0) != 0;
}

bool TProfileFile::WriteString(const std::string& ASection, const std::string& AKey,
                               const std::string& AValue) {
    if (BreaksLine(AValue) || BreaksLine(ASection) || BreaksLine(AKey) ||
        ASection.find(']') != npos || AKey.find('=') != npos)
        return false;
    std::string line = AKey + "=" + AValue;
    size_t section = FindSection(ASection);
    if (section == npos) {
        InsertLine(FLines.size(), "[" + ASection + "]");
        InsertLine(FLines.size(), line);
        return true;
    }
    size_t key = FindKey(section, AKey);
    if (key != npos)
        FLines[key].Text = line;
    else
        InsertLine(EndOfSection(section), line);
    return true;
}

bool TProfileFile::WriteInteger(const std::string& ASection, const std::string& AKey,
                                int32_t AValue) {
    return WriteString(ASection, AKey, std::to_string(AValue));
}

bool TProfileFile::WriteBool(const std::string& ASection, const std::string& AKey, bool AValue) {
    return WriteString(ASection, AKey, AValue ? "1" : "0");
}

std::string TProfileFile::Text() const {
    std::string text = FByteOrderMark;
    for (const TLine& line : FLines)
        text += line.Text + line.End;
    return text;
}

void TProfileFile::SetText(const std::string& AText) {
    FLines.clear();
    // a file saved by an editor as UTF-8 may open with a byte order mark
    FByteOrderMark = AText.starts_with("\xEF\xBB\xBF") ? AText.substr(0, 3) : "";
    size_t start = FByteOrderMark.size();
    while (start < AText.size()) {
        size_t end = AText.find_first_of("\r\n", start);
        if (end == npos) {
            FLines.push_back({AText.substr(start), ""});
            return;
        }
        size_t next = (AText[end] == '\r' && end + 1 < AText.size() && AText[end + 1] == '\n')
                          ? end + 2
                          : end + 1;
        FLines.push_back({AText.substr(start, end - start), AText.substr(end, next - end)});
        start = next;
    }
}

size_t TProfileFile::FindSection(const std::string& ASection) const {
    for (size_t i = 0; i < FLines.size(); ++i)
        if (IsSectionLine(FLines[i].Text) && SameName(SectionNameOf(FLines[i].Text), ASection))
            return i;
    return npos;
}

size_t TProfileFile::FindKey(size_t ASectionLine, const std::string& AKey) const {
    if (ASectionLine == npos)
        return npos;
    std::string name;
    for (size_t i = ASectionLine + 1; i < FLines.size() && !IsSectionLine(FLines[i].Text); ++i)
        if (KeyNameOf(FLines[i].Text, name) && SameName(name, AKey))
            return i;
    return npos;
}

size_t TProfileFile::EndOfSection(size_t ASectionLine) const {
    size_t end = ASectionLine + 1;
    for (size_t i = ASectionLine + 1; i < FLines.size() && !IsSectionLine(FLines[i].Text); ++i)
        if (!Trimmed(FLines[i].Text).empty())
            end = i + 1;
    return end;
}

void TProfileFile::InsertLine(size_t AIndex, const std::string& AText) {
    if (AIndex > 0 && FLines[AIndex - 1].End.empty())
        FLines[AIndex - 1].End = "\r\n";
    FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(AIndex), TLine{AText, "\r\n"});
}
