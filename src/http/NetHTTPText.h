// Text helpers of the HTTP layer: cutting, searching and parameter decoding on byte strings.
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

// Returns the text before the first ADelimiter (case-sensitive); with ARemove, AText keeps only
// what follows the delimiter. Without a delimiter: the whole text, and AText becomes empty.
std::string TakeUntil(std::string& AText, const std::string& ADelimiter, bool ARemove = true);

// 1-based position of the last case-insensitive occurrence of ASub in AText; 0 when absent.
int LastPos(const std::string& ASub, const std::string& AText);

// One parameter item: '+' becomes a blank, then %XX escapes of 1..255 become that byte;
// escapes of 0, with non-hex characters or cut off at the end vanish.
std::string DecodeParam(std::string_view AItem);

// ASCII-only case helpers; other bytes stay as they are.
std::string UpperCaseAscii(std::string AText);
bool SameTextAscii(std::string_view A, std::string_view B);

// Removes leading and/or trailing characters of code 32 or less. TrimLeftCtl trims in place
// what it is given to keep (a value moved in is not copied).
std::string TrimLeftCtl(std::string AText);
std::string TrimRightCtl(const std::string& AText);
std::string TrimCtl(const std::string& AText);
// True when TrimCtl would leave nothing of AText; no copy is made.
bool OnlyCtl(std::string_view AText);

// A header's own blanks (space and tab): what folds a line and pads a value.
inline bool IsHeaderBlank(char AChar) {
    return AChar == ' ' || AChar == '\t';
}
// AText without the header blanks at either end; no copy is made.
std::string_view TrimmedBlanks(std::string_view AText);

// True when AText holds a path separator ('/' or '\\'), so it might name a file or directory of
// this machine; such a text never goes into an answer.
bool MayNameAFile(const std::string& AText);
