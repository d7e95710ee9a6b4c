#include "http/TNetCookie.h"

#include "http/NetHTTPText.h"

namespace {

// Reads a quoted value starting at the opening quote; a doubled quote stands for one.
// APos ends past the closing quote (or at the end of the text when it is missing).
std::string ReadQuoted(const std::string& AText, size_t& APos) {
    std::string value;
    size_t i = APos + 1;
    while (i < AText.size()) {
        if (AText[i] == '"') {
            if (i + 1 < AText.size() && AText[i + 1] == '"') {
                value += '"';
                i += 2;
                continue;
            }
            ++i;
            break;
        }
        value += AText[i++];
    }
    APos = i;
    return value;
}

void ApplyAttribute(TNetCookie& ACookie, const std::string& AName, const std::string& AValue) {
    const std::string name = UpperCaseAscii(AName);
    if (name == "$PATH")
        ACookie.Path = AValue;
    else if (name == "$DOMAIN")
        ACookie.Domain = AValue;
}

} // namespace

std::string TNetCookie::CookieText() const {
    std::string text = Name + "=" + Value;
    if (!Domain.empty())
        text += "; Domain=" + Domain;
    text += "; Version=\"1\"";
    if (!Path.empty())
        text += "; Path=" + Path;
    if (MaxAge >= 0)
        text += "; Max-Age=" + std::to_string(MaxAge);
    if (!Comment.empty())
        text += "; Comment=" + Comment;
    if (Secure)
        text += "; Secure";
    return text;
}

TNetCookie& TNetCookieCollection::Add() {
    FItems.push_back(std::make_unique<TNetCookie>());
    return *FItems.back();
}

int TNetCookieCollection::FindByName(const std::string& AName, int AStart) const {
    for (int i = AStart < 0 ? 0 : AStart; i < Count(); ++i) {
        if (SameTextAscii(FItems[i]->Name, AName))
            return i;
    }
    return -1;
}

void ParseCookieHeader(TNetCookieCollection& ACollection, const std::string& AValue) {
    TNetCookie* current = nullptr;
    size_t pos = 0;
    while (pos < AValue.size()) {
        const size_t eq = AValue.find('=', pos);
        if (eq == std::string::npos)
            return;
        const std::string name = TrimCtl(AValue.substr(pos, eq - pos));
        pos = eq + 1;
        std::string value;
        if (pos < AValue.size() && AValue[pos] == '"') {
            value = ReadQuoted(AValue, pos);
        } else {
            const size_t semi = AValue.find(';', pos);
            value = AValue.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos);
        }
        if (!name.empty() && name[0] == '$' && current != nullptr) {
            ApplyAttribute(*current, name, value);
        } else {
            current = &ACollection.Add();
            current->Name = name;
            current->Value = value;
        }
        const size_t next = AValue.find(';', pos);
        if (next == std::string::npos)
            return;
        pos = next + 1;
    }
}
