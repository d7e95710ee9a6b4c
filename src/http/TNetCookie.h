// Cookies: one cookie record, the ordered collection, the Cookie header parser and the
// Set-Cookie text. Not synchronised: a collection belongs to one request's record.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct TNetCookie {
    std::string Name;
    std::string Value;
    std::string Domain;
    std::string Path;
    std::string Comment;
    bool Secure = false;
    int MaxAge = -1; // seconds; negative: not sent

    // The Set-Cookie value: "Name=Value", then Domain, Version="1", Path, Max-Age, Comment
    // where set, and "; Secure". Values are written as they stand.
    std::string CookieText() const;
};

class TNetCookieCollection {
public:
    TNetCookieCollection() = default;
    TNetCookieCollection(const TNetCookieCollection&) = delete;
    TNetCookieCollection& operator=(const TNetCookieCollection&) = delete;
    virtual ~TNetCookieCollection() = default;

    // Appends a new empty cookie and returns it; references stay valid while the collection lives.
    TNetCookie& Add();
    TNetCookie& Items(int AIndex) { return *FItems.at(AIndex); }
    const TNetCookie& Items(int AIndex) const { return *FItems.at(AIndex); }
    int Count() const { return static_cast<int>(FItems.size()); }
    void Clear() { FItems.clear(); }
    // First index at or after AStart whose name matches case-insensitively, or -1.
    virtual int FindByName(const std::string& AName, int AStart = 0) const;

private:
    std::vector<std::unique_ptr<TNetCookie>> FItems;
};

// Adds the cookies of one Cookie header value; "$Path" and "$Domain" pairs after a cookie
// set its attributes. A value without any "=" adds nothing.
void ParseCookieHeader(TNetCookieCollection& ACollection, const std::string& AValue);
