// Reads one line of an overview log file (NCSA combined format) back into the fields that the
// statistics count. Pure functions; any thread, each with its own THitLine.
#pragma once

#include <string>
#include <string_view>

// The fields of one hit, with the log's escapes undone (\xHH, and \" and \\ of other writers).
// The texts keep their capacity from line to line, so reading a file allocates rarely.
struct THitLine {
    std::string Host; // first field: the address, or the host name when lookups were on
    // Second field when it is a visitor id (16 lower-case hex digits); empty otherwise ("-").
    std::string VisitorId;
    int Hour = 0;         // local hour of the hit as the line states it, 0 to 23
    std::string Command;  // method
    std::string Document; // path without the query
    std::string Params;   // parameter text, still URL-encoded (a POST: body, CR LF, query)
    int Status = 0;
    std::string Referer;   // empty when absent or "-"
    std::string UserAgent; // empty when absent or "-"
};

// Fills AHit from ALine (without its line break; a trailing CR is ignored). False when the
// line is no combined line: no date in brackets, no quoted request, no status or size, no
// quoted referer and user agent, or a line cut off anywhere before its end. Besides our own
// request text (command, document, parameter text, version) it reads the usual
// "GET /path?query HTTP/1.1" of other writers, and fields they add after the user agent.
[[nodiscard]] bool ReadCombinedLine(std::string_view ALine, THitLine& AHit);

// Appends AText to AOut with \xHH turned into the byte it stands for; \" and \\ (escapes of
// other writers) become the quote and the backslash. Any other backslash stays as it is.
void AppendUnescaped(std::string_view AText, std::string& AOut);
