#include "http/TNetHeaderList.h"

#include "http/NetHTTPText.h"

#include <utility>

namespace {

bool IsBlankOrTab(char AChar) {
    return AChar == ' ' || AChar == '\t';
}

// The separator as it ends a name when a line is read: without its trailing blanks.
std::string NameTerminator(const std::string& ASeparator) {
    size_t end = ASeparator.size();
    while (end > 0 && ASeparator[end - 1] == ' ')
        --end;
    return ASeparator.substr(0, end);
}

bool HasLetter(const std::string& AText) {
    for (char c : AText)
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            return true;
    return false;
}

} // namespace

void TNetHeaderList::SetValueSeparator(const std::string& AValue) {
    FValueSeparator = AValue;
    FNameTerminator = NameTerminator(AValue);
    FPlainTerminator = !FNameTerminator.empty() && !HasLetter(FNameTerminator);
}

void TNetHeaderList::Insert(int AIndex, const std::string& ALine) {
    FLines.insert(FLines.begin() + AIndex, ALine);
}

void TNetHeaderList::Delete(int AIndex) {
    FLines.erase(FLines.begin() + AIndex);
}

std::string TNetHeaderList::Text() const {
    std::string text;
    for (const std::string& line : FLines)
        text += line + "\r\n";
    return text;
}

std::string TNetHeaderList::LineName(int AIndex) const {
    const std::string line =
        FCaseSensitiveNames ? Strings(AIndex) : UpperCaseAscii(Strings(AIndex));
    const std::string& terminator = FNameTerminator;
    const size_t pos = terminator.empty() ? std::string::npos : line.find(terminator);
    return pos == std::string::npos ? std::string() : line.substr(0, pos);
}

bool TNetHeaderList::NameIs(int AIndex, const std::string& ATerminator,
                            std::string_view AName) const {
    // A separator without letters ends the name where it stands in the line as it is, so the
    // name is compared in place, without an upper-cased copy of the line per look-up.
    if (!FPlainTerminator)
        return SameTextAscii(LineName(AIndex), AName);
    const std::string& line = FLines[static_cast<size_t>(AIndex)];
    // A line named AName holds the separator right after the name: most lines fail that test
    // at once, without a search for the separator.
    if (!AName.empty() &&
        (line.size() < AName.size() + ATerminator.size() || line[AName.size()] != ATerminator[0]))
        return false;
    const size_t pos = line.find(ATerminator);
    return SameTextAscii(pos == std::string::npos ? std::string_view()
                                                  : std::string_view(line).substr(0, pos),
                         AName);
}

int TNetHeaderList::FindName(std::string_view AName) const {
    const std::string& terminator = FNameTerminator;
    for (int i = 0; i < Count(); ++i) {
        if (NameIs(i, terminator, AName))
            return i;
    }
    return -1;
}

bool TNetHeaderList::IsContinuation(int AIndex) const {
    return AIndex < Count() && !FLines[AIndex].empty() && IsBlankOrTab(FLines[AIndex][0]);
}

std::string TNetHeaderList::LineValue(int AIndex) const {
    if (AIndex < 0)
        return std::string();
    const std::string& line = Strings(AIndex);
    const std::string& terminator = FNameTerminator;
    // The name's length is that of the line's own text before the separator, unless the
    // separator holds letters (then the name is found in the upper-cased line).
    const size_t found = FPlainTerminator ? line.find(terminator) : std::string::npos;
    const size_t start =
        (found != std::string::npos ? found : LineName(AIndex).size()) + terminator.size();
    // The blanks after the separator are not copied; the value is trimmed at the end anyway.
    size_t first = start;
    while (first < line.size() && static_cast<unsigned char>(line[first]) <= ' ')
        ++first;
    std::string value = first < line.size() ? line.substr(first) : std::string();
    for (int i = AIndex + 1; FUnfoldLines && IsContinuation(i); ++i) {
        const std::string more = TrimLeftCtl(FLines[i]);
        if (value.empty() || IsBlankOrTab(value.back()))
            value += more;
        else
            value += " " + more;
    }
    return TrimLeftCtl(std::move(value));
}

std::string TNetHeaderList::ValueOf(std::string_view AName) const {
    return LineValue(FindName(AName));
}

void TNetHeaderList::ValuesOf(std::string_view AName, std::vector<std::string>* ATarget) const {
    if (ATarget == nullptr)
        return;
    const std::string& terminator = FNameTerminator;
    for (int i = 0; i < Count(); ++i) {
        if (NameIs(i, terminator, AName))
            ATarget->push_back(LineValue(i));
    }
}

void TNetHeaderList::AssignValue(std::string_view AName, const std::string& AValue) {
    int index = FindName(AName);
    if (AValue.empty()) {
        if (index == -1)
            return;
        if (FFoldLines)
            RemoveContinuations(index);
        Delete(index);
        return;
    }
    if (index == -1) {
        Add(std::string());
        index = Count() - 1;
    }
    std::string line;
    line.reserve(AName.size() + FValueSeparator.size() + AValue.size());
    line.append(AName).append(FValueSeparator).append(AValue);
    if (FFoldLines) {
        RemoveContinuations(index);
        FoldAt(line, index);
    } else {
        Put(index, std::move(line));
    }
}

void TNetHeaderList::RemoveContinuations(int AIndex) {
    while (IsContinuation(AIndex + 1))
        Delete(AIndex + 1);
}

// Inserts "\r\n " after the last blank or tab outside quotes once a piece grows past the
// fold width; words are never split and an existing "\r\n " ends a piece by itself.
std::string TNetHeaderList::WrapText(const std::string& AText) const {
    std::string out;
    bool quoted = false;
    size_t count = 0;
    std::string::size_type breakAt = std::string::npos; // position in out after the blank
    for (size_t i = 0; i < AText.size(); ++i) {
        const char c = AText[i];
        if (!quoted && AText.compare(i, 3, "\r\n ") == 0) {
            out += "\r\n ";
            i += 2;
            count = 1;
            breakAt = std::string::npos;
            continue;
        }
        if (c == '"')
            quoted = !quoted;
        out += c;
        ++count;
        if (!quoted && IsBlankOrTab(c))
            breakAt = out.size();
        if (count > static_cast<size_t>(FFoldWidth) && breakAt != std::string::npos &&
            i + 1 < AText.size()) {
            count = out.size() - breakAt;
            out.insert(breakAt, "\r\n ");
            breakAt = std::string::npos;
        }
    }
    return out;
}

void TNetHeaderList::FoldAt(const std::string& AText, int AIndex) {
    std::string rest = WrapText(AText);
    std::vector<std::string> pieces;
    while (!rest.empty())
        pieces.push_back(TrimRightCtl(TakeUntil(rest, "\r\n")));
    if (pieces.empty())
        pieces.emplace_back();
    Put(AIndex, pieces[0]);
    for (size_t i = 1; i < pieces.size(); ++i)
        Insert(AIndex + static_cast<int>(i), pieces[i]);
}
