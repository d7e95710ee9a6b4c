#include "config/ListFile.h"

#include "config/FileText.h"

std::vector<std::string> SplitListLines(const std::string& AText) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < AText.size()) {
        size_t end = AText.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(AText.substr(start));
            break;
        }
        lines.push_back(AText.substr(start, end - start));
        bool crlf = AText[end] == '\r' && end + 1 < AText.size() && AText[end + 1] == '\n';
        start = end + (crlf ? 2 : 1);
    }
    return lines;
}

std::string JoinListLines(const std::vector<std::string>& ALines) {
    std::string text;
    for (const std::string& line : ALines)
        text += line + "\r\n";
    return text;
}

bool WriteListFile(const std::string& APath, const std::vector<std::string>& ALines) {
    return ReplaceFileText(APath, JoinListLines(ALines));
}
