// Ordered HTTP header lines with case-insensitive lookup by name, their bytes kept back to back
// in one string, so a request's or an answer's dozen lines cost one allocation, not a dozen.
// Not synchronised: one thread at a time (a list belongs to one request).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TNetHeaderList {
public:
    // Plain list operations; indexes count from 0. A line given may be one of the list's own.
    void Add(std::string_view ALine) { FLines.Insert(FLines.Size(), Stored(ALine)); }
    // Adds the line that AWrite appends to the string it is given (the list's own storage, so
    // the line is never built apart and copied). When AWrite returns false, nothing is added.
    // AWrite must not read the list's lines.
    template <typename TWrite> bool AddBuilt(TWrite&& AWrite) {
        PrepareStorage(0);
        const std::size_t start = FBytes.size();
        if (!AWrite(FBytes)) {
            FBytes.resize(start);
            return false;
        }
        FLines.Insert(FLines.Size(), Appended(start));
        return true;
    }
    int Count() const { return static_cast<int>(FLines.Size()); }
    // The line's bytes; the view stays valid until the list changes.
    std::string_view Strings(int AIndex) const { return View(FLines.At(AIndex)); }
    void Put(int AIndex, std::string_view ALine);
    void Insert(int AIndex, std::string_view ALine);
    void Delete(int AIndex);
    void Clear();
    // The lines joined, each followed by CR LF; AppendText appends them to ATarget, TextSize
    // is their length.
    std::string Text() const;
    void AppendText(std::string& ATarget) const;
    std::size_t TextSize() const { return FLiveBytes + 2 * FLines.Size(); }

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
    void AssignValue(std::string_view AName, std::string_view AValue);
    // Deletes the continuation lines that follow AIndex.
    void RemoveContinuations(int AIndex);
    // Wraps AText to FoldWidth, puts the first piece at AIndex and inserts the others after it.
    void FoldAt(const std::string& AText, int AIndex);

private:
    // Where a line's bytes stand in FBytes. Offsets, not pointers: a copied list stays whole.
    struct TLine {
        std::uint32_t Start = 0;
        std::uint32_t Size = 0;
    };
    // A request or an answer has about a dozen lines of a few hundred bytes: their places are
    // kept in the list itself, their bytes take one allocation instead of growing through
    // 16, 32, 64 and on.
    static constexpr std::size_t TypicalLines = 16;
    static constexpr std::size_t TypicalBytes = 512;

    // The lines' places in order: the first TypicalLines in the list itself, more in a vector.
    class TLineIndex {
    public:
        std::size_t Size() const { return FCount; }
        TLine& operator[](std::size_t AIndex) {
            return AIndex < TypicalLines ? FFew[AIndex] : FMore[AIndex - TypicalLines];
        }
        TLine operator[](std::size_t AIndex) const {
            return AIndex < TypicalLines ? FFew[AIndex] : FMore[AIndex - TypicalLines];
        }
        // Raises std::out_of_range for an index outside the list.
        TLine At(int AIndex) const;
        void Insert(std::size_t AIndex, TLine ALine);
        void Erase(std::size_t AIndex);
        void Clear();

    private:
        TLine FFew[TypicalLines];
        std::vector<TLine> FMore;
        std::size_t FCount = 0;
    };

    // Whether AText starts in the list's own storage (which moves when it grows).
    bool Owns(std::string_view AText) const;
    std::string_view View(TLine ALine) const { return {FBytes.data() + ALine.Start, ALine.Size}; }
    // Appends ALine's bytes to FBytes and tells where they stand.
    TLine Stored(std::string_view ALine);
    // The bytes appended to FBytes from AStart on, counted as a line's.
    TLine Appended(std::size_t AStart);
    // Makes room for AMore bytes, dropping the bytes of replaced and deleted lines once they
    // outweigh the live ones.
    void PrepareStorage(std::size_t AMore);
    void Compact();
    bool IsContinuation(int AIndex) const;
    // Whether the name of line AIndex is AName, ignoring case; ATerminator is the separator
    // without its trailing blanks.
    bool NameIs(int AIndex, const std::string& ATerminator, std::string_view AName) const;
    std::string WrapText(const std::string& AText) const;

    std::string FBytes; // the lines' bytes, without line ends; may hold dropped bytes
    TLineIndex FLines;
    std::size_t FLiveBytes = 0; // the bytes of the lines in FLines
    std::string FValueSeparator = ": ";
    std::string FNameTerminator = ":"; // the separator without its trailing blanks
    bool FPlainTerminator = true;      // it has characters, and no letters
    bool FCaseSensitiveNames = false;
    bool FUnfoldLines = true;
    bool FFoldLines = true;
    int FFoldWidth = 78;
};
