#include "http/TNetHeaderList.h"

#include "http/NetHTTPText.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <stdexcept>
#include <utility>

namespace {

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

TNetHeaderList::TLine TNetHeaderList::TLineIndex::At(int AIndex) const {
    if (AIndex < 0 || static_cast<std::size_t>(AIndex) >= FCount)
        throw std::out_of_range("TNetHeaderList: no line " + std::to_string(AIndex));
    return (*this)[static_cast<std::size_t>(AIndex)];
}

void TNetHeaderList::TLineIndex::Insert(std::size_t AIndex, TLine ALine) {
    if (FCount >= TypicalLines)
        FMore.emplace_back();
    for (std::size_t i = FCount; i > AIndex; --i)
        (*this)[i] = (*this)[i - 1];
    (*this)[AIndex] = ALine;
    ++FCount;
}

void TNetHeaderList::TLineIndex::Erase(std::size_t AIndex) {
    for (std::size_t i = AIndex; i + 1 < FCount; ++i)
        (*this)[i] = (*this)[i + 1];
    --FCount;
    if (FCount >= TypicalLines)
        FMore.pop_back();
}

void TNetHeaderList::TLineIndex::Clear() {
    FMore.clear();
    FCount = 0;
}

bool TNetHeaderList::Owns(std::string_view AText) const {
    const std::less<const char*> before;
    return !before(AText.data(), FBytes.data()) &&
           before(AText.data(), FBytes.data() + FBytes.size());
}

void TNetHeaderList::PrepareStorage(std::size_t AMore) {
    if (FBytes.capacity() < TypicalBytes)
        FBytes.reserve(std::max(TypicalBytes, FBytes.size() + AMore));
    if (FBytes.size() - FLiveBytes > FLiveBytes + TypicalBytes)
        Compact();
    if (FBytes.size() + AMore > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("header lines too long");
}

void TNetHeaderList::Compact() {
    std::string bytes;
    bytes.reserve(FLiveBytes + TypicalBytes);
    for (std::size_t i = 0; i < FLines.Size(); ++i) {
        TLine& line = FLines[i];
        bytes.append(View(line));
        line.Start = static_cast<std::uint32_t>(bytes.size() - line.Size);
    }
    FBytes = std::move(bytes);
}

TNetHeaderList::TLine TNetHeaderList::Stored(std::string_view ALine) {
    if (Owns(ALine)) {
        // The list's own bytes move when the storage grows or is compacted.
        const std::string copy(ALine);
        return Stored(copy);
    }
    PrepareStorage(ALine.size());
    const std::size_t start = FBytes.size();
    FBytes.append(ALine);
    return Appended(start);
}

TNetHeaderList::TLine TNetHeaderList::Appended(std::size_t AStart) {
    const std::size_t size = FBytes.size() - AStart;
    FLiveBytes += size;
    return TLine{static_cast<std::uint32_t>(AStart), static_cast<std::uint32_t>(size)};
}

void TNetHeaderList::Put(int AIndex, std::string_view ALine) {
    const std::uint32_t oldSize = FLines.At(AIndex).Size;
    const TLine line = Stored(ALine);
    FLiveBytes -= oldSize;
    FLines[static_cast<std::size_t>(AIndex)] = line;
}

void TNetHeaderList::Insert(int AIndex, std::string_view ALine) {
    if (AIndex < 0 || AIndex > Count())
        throw std::out_of_range("TNetHeaderList: no place " + std::to_string(AIndex));
    FLines.Insert(static_cast<std::size_t>(AIndex), Stored(ALine));
}

void TNetHeaderList::Delete(int AIndex) {
    FLiveBytes -= FLines.At(AIndex).Size;
    FLines.Erase(static_cast<std::size_t>(AIndex));
}

void TNetHeaderList::Clear() {
    FLines.Clear();
    FBytes.clear();
    FLiveBytes = 0;
}

std::string TNetHeaderList::Text() const {
    std::string text;
    text.reserve(TextSize());
    AppendText(text);
    return text;
}

void TNetHeaderList::AppendText(std::string& ATarget) const {
    for (std::size_t i = 0; i < FLines.Size(); ++i)
        ATarget.append(View(FLines[i])).append("\r\n");
}

std::string TNetHeaderList::LineName(int AIndex) const {
    const std::string line = FCaseSensitiveNames ? std::string(Strings(AIndex))
                                                 : UpperCaseAscii(std::string(Strings(AIndex)));
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
    const std::string_view line = View(FLines[static_cast<size_t>(AIndex)]);
    // A line named AName holds the separator right after the name: most lines fail that test
    // at once, without a search for the separator.
    if (!AName.empty() &&
        (line.size() < AName.size() + ATerminator.size() || line[AName.size()] != ATerminator[0]))
        return false;
    const size_t pos = line.find(ATerminator);
    return SameTextAscii(pos == std::string_view::npos ? std::string_view() : line.substr(0, pos),
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
    if (AIndex >= Count())
        return false;
    const std::string_view line = View(FLines[static_cast<size_t>(AIndex)]);
    return !line.empty() && IsHeaderBlank(line[0]);
}

std::string TNetHeaderList::LineValue(int AIndex) const {
    if (AIndex < 0)
        return std::string();
    const std::string_view line = Strings(AIndex);
    const std::string& terminator = FNameTerminator;
    // The name's length is that of the line's own text before the separator, unless the
    // separator holds letters (then the name is found in the upper-cased line).
    const size_t found = FPlainTerminator ? line.find(terminator) : std::string_view::npos;
    const size_t start =
        (found != std::string_view::npos ? found : LineName(AIndex).size()) + terminator.size();
    // The blanks after the separator are not copied; the value is trimmed at the end anyway.
    size_t first = start;
    while (first < line.size() && static_cast<unsigned char>(line[first]) <= ' ')
        ++first;
    std::string value = first < line.size() ? std::string(line.substr(first)) : std::string();
    for (int i = AIndex + 1; FUnfoldLines && IsContinuation(i); ++i) {
        const std::string more = TrimLeftCtl(std::string(Strings(i)));
        if (value.empty() || IsHeaderBlank(value.back()))
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

void TNetHeaderList::AssignValue(std::string_view AName, std::string_view AValue) {
    int index = FindName(AName);
    if (AValue.empty()) {
        if (index == -1)
            return;
        if (FFoldLines)
            RemoveContinuations(index);
        Delete(index);
        return;
    }
    // A new line of a list that does not fold is built where it is kept.
    if (index == -1 && !FFoldLines && !Owns(AName) && !Owns(AValue)) {
        AddBuilt([&](std::string& ABytes) {
            ABytes.append(AName).append(FValueSeparator).append(AValue);
            return true;
        });
        return;
    }
    std::string line;
    line.reserve(AName.size() + FValueSeparator.size() + AValue.size());
    line.append(AName).append(FValueSeparator).append(AValue);
    if (index == -1) {
        Add(std::string_view());
        index = Count() - 1;
    }
    if (FFoldLines) {
        RemoveContinuations(index);
        FoldAt(line, index);
    } else {
        Put(index, line);
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
        if (!quoted && IsHeaderBlank(c))
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
