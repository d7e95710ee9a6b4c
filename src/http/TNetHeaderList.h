// Ordered HTTP header lines kept as whole texts, with case-insensitive lookup by name.
// Not synchronised: one thread at a time (a list belongs to one request).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TNetHeaderList {
public:
    // Plain list operations; indexes count from 0.
    void Add(std::string ALine) {
        // A request or an answer has about a dozen lines: one allocation instead of growing
        // through 1, 2, 4 and 8.
        if (FLines.empty())
            FLines.reserve(TypicalLines);
        FLines.push_back(std::move(ALine));
    }
    int Count() const { return static_cast<int>(FLines.size()); }
    const std::string& Strings(int AIndex) const { return FLines.at(AIndex); }
    void Put(int AIndex, std::string ALine) { FLines.at(AIndex) = std::move(ALine); }
    void Insert(int AIndex, const std::string& ALine);
    void Delete(int AIndex);
    void Clear() { FLines.clear(); }
    const std::vector<std::string>& Lines() const { return FLines; }
    // The lines joined, each followed by CR LF.
    std::string Text() const;

    // Settings.
    const std::string& ValueSeparator() const { return FValueSeparator; }
    void SetValueSeparator(const std::string& AValue);
    bool CaseSensitiveNames() const { return FCaseSensitiveNames; }
    void SetCaseSensitiveNames(bool AValue) { FCaseSensitiveNames = AValue; }
    bool UnfoldLines() const { return FUnfoldLines; }
    void SetUnfoldLines(bool AValue) { FUnfoldLines = AValue; }
    bool FoldLines() const { return FFoldLines; }
    void SetFoldLines(bool AValue) { FFoldLines = AValue; }
    int FoldWidth() const { return FFoldWidth; }
    void SetFoldWidth(int AValue) { FFoldWidth = AValue; }

    // The name part of a line: before the first separator colon, upper-cased unless
    // CaseSensitiveNames; empty when the line has no colon.
    std::string LineName(int AIndex) const;
    // First index whose name matches case-insensitively, or -1.
    int FindName(std::string_view AName) const;
    // Value after the colon, unfolded when UnfoldLines; empty for -1.
    std::string LineValue(int AIndex) const;
    std::string ValueOf(std::string_view AName) const;
    // Appends the value of every matching line, in order; nothing when ATarget is null.
    void ValuesOf(std::string_view AName, std::vector<std::string>* ATarget) const;
    // Sets or replaces (in place) the first header of the name; an empty value removes it.
    void AssignValue(std::string_view AName, const std::string& AValue);
    // Deletes the continuation lines that follow AIndex.
    void RemoveContinuations(int AIndex);
    // Wraps AText to FoldWidth, puts the first piece at AIndex and inserts the others after it.
    void FoldAt(const std::string& AText, int AIndex);

private:
    static constexpr size_t TypicalLines = 16;

    bool IsContinuation(int AIndex) const;
    // Whether the name of line AIndex is AName, ignoring case; ATerminator is the separator
    // without its trailing blanks.
    bool NameIs(int AIndex, const std::string& ATerminator, std::string_view AName) const;
    std::string WrapText(const std::string& AText) const;

    std::vector<std::string> FLines;
    std::string FValueSeparator = ": ";
    std::string FNameTerminator = ":"; // the separator without its trailing blanks
    bool FPlainTerminator = true;      // it has characters, and no letters
    bool FCaseSensitiveNames = false;
    bool FUnfoldLines = true;
    bool FFoldLines = true;
    int FFoldWidth = 78;
};
