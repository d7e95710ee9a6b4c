// A profile (INI) file held in memory: case-insensitive sections and keys, edits that keep
// every other line as it stands. One owner thread per object.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TProfileFile {
public:
    // Reading returns at most this many characters of a text value.
    static constexpr size_t MaxTextLength = 2047;

    explicit TProfileFile(std::string APath) : FPath(std::move(APath)) {}

    // Reads the file. A missing file reads as empty; false when it exists but cannot be read.
    [[nodiscard]] bool Load();
    // Writes the file crash-safely (a new file renamed over the old one); false on failure.
    [[nodiscard]] bool Save() const;

    // The value of the first such key in the first such section, blanks around it removed,
    // or ADefault when there is none.
    std::string ReadString(const std::string& ASection, const std::string& AKey,
                           const std::string& ADefault) const;
    // Decimal, or hexadecimal after "0x"/"0X", with an optional sign; a missing, empty or
    // malformed value or one outside 32 bits gives ADefault.
    int32_t ReadInteger(const std::string& ASection, const std::string& AKey,
                        int32_t ADefault) const;
    // An integer, any value but 0 counting as true.
    bool ReadBool(const std::string& ASection, const std::string& AKey, bool ADefault) const;

    // Sets a key's line to "Key=Value", adding the key after the section's last entry or the
    // section at the end of the file when needed. False for a value or name that would break
    // the line (CR or LF; '=' or ']' in names): nothing is changed then.
    [[nodiscard]] bool WriteString(const std::string& ASection, const std::string& AKey,
                                   const std::string& AValue);
    [[nodiscard]] bool WriteInteger(const std::string& ASection, const std::string& AKey,
                                    int32_t AValue);
    [[nodiscard]] bool WriteBool(const std::string& ASection, const std::string& AKey, bool AValue);

    // The file's bytes as Save would write them.
    std::string Text() const;
    void SetText(const std::string& AText);

private:
    struct TLine {
        std::string Text;
        std::string End; // "\r\n", "\n", "\r" or empty for a last line without one
    };

    // Index of the section's header line, or npos.
    size_t FindSection(const std::string& ASection) const;
    // Index of the key's line inside the section starting at ASectionLine, or npos.
    size_t FindKey(size_t ASectionLine, const std::string& AKey) const;
    // Index after the section's last non-blank line.
    size_t EndOfSection(size_t ASectionLine) const;
    void InsertLine(size_t AIndex, const std::string& AText);

    std::string FPath;
    std::string FByteOrderMark; // kept as found, not part of the first line's name
    std::vector<TLine> FLines;
};
