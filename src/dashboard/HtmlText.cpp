#include "dashboard/HtmlText.h"

#include <cstdio>

namespace {

void AppendPercent(unsigned char AByte, std::string& AOut) {
    char escape[4];
    std::snprintf(escape, sizeof escape, "%%%02X", AByte);
    AOut += escape;
}

bool Unreserved(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool StartsWithNoCase(std::string_view AText, std::string_view APrefix) {
    if (AText.size() < APrefix.size())
        return false;
    for (std::size_t i = 0; i < APrefix.size(); ++i) {
        char c = AText[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != APrefix[i])
            return false;
    }
    return true;
}

} // namespace

std::string HtmlText(std::string_view AText) {
    std::string html;
    html.reserve(AText.size());
    for (char c : AText) {
        switch (c) {
        case '&':
            html += "&amp;";
            break;
        case '<':
            html += "&lt;";
            break;
        case '>':
            html += "&gt;";
            break;
        case '"':
            html += "&quot;";
            break;
        case '\'':
            html += "&#39;";
            break;
        default:
            html += c;
        }
    }
    return html;
}

std::string QueryValue(std::string_view AText) {
    std::string value;
    for (char c : AText) {
        if (Unreserved(static_cast<unsigned char>(c)))
            value += c;
        else
            AppendPercent(static_cast<unsigned char>(c), value);
    }
    return value;
}

bool IsWebLink(std::string_view AUrl) {
    if (!StartsWithNoCase(AUrl, "http://") && !StartsWithNoCase(AUrl, "https://"))
        return false;
    for (char c : AUrl)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F)
            return false;
    return true;
}

std::string LinkAddress(std::string_view AUrl) {
    std::string address;
    for (char c : AUrl) {
        const auto byte = static_cast<unsigned char>(c);
        // What a URL may hold as it is; quotes, brackets, the backslash and the rest go as %XX.
        if (Unreserved(byte) ||
            std::string_view(":/?#[]@!$&()*+,;=%").find(c) != std::string_view::npos)
            address += c;
        else
            AppendPercent(byte, address);
    }
    return HtmlText(address);
}
