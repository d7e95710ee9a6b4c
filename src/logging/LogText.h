// Bounded, escaped texts for the log records, the screen logs and the Messages list: no byte a
// client sent can start a record, shift a field or reach a terminal as a control sequence, and
// no field grows past its limit however much the client sent. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>

// A text field of the combined line, a value of the detail block, a part of the overview line.
inline constexpr std::size_t LogFieldLimit = 2048;
// The request field of the combined line (it holds the parameters and a POST body).
inline constexpr std::size_t LogRequestLimit = 4096;
// A client's text inside a Messages line.
inline constexpr std::size_t MessageTextLimit = 256;
inline constexpr std::size_t NoLogLimit = std::numeric_limits<std::size_t>::max();
// Ends a field that was cut.
inline constexpr std::string_view LogCutMark = "...";

enum class TLogEscape {
    // Screen logs, detail file, Messages: bytes below 0x20, 0x7F, C1 controls and bytes of
    // invalid UTF-8 as \xHH; valid UTF-8 and every other printable byte stay.
    Text,
    // As Text, but CR and LF stay: whole records whose own line breaks must stay.
    Lines,
    // Quoted fields of the combined line: every byte outside printable ASCII, '"' and '\'.
    Quoted,
    // Unquoted fields of the combined line (host, identity, user): also blank, '[' and ']', so
    // no value can shift the fields after it.
    Unquoted,
};

// Appends the pieces, escaped, to AOut as one field of at most ALimit bytes. Pieces that do
// not fit are written as far as they fit (an escape or a UTF-8 character is never split),
// followed by LogCutMark. True when nothing was cut.
bool AppendLogField(std::string& AOut, std::initializer_list<std::string_view> APieces,
                    TLogEscape AEscape, std::size_t ALimit = LogFieldLimit);

// One text as such a field.
std::string LogField(std::string_view AText, TLogEscape AEscape,
                     std::size_t ALimit = LogFieldLimit);
