// Texts as they stand in a page: escaped for HTML text and quoted attributes, for a query value
// and for a link's address. Every name the dashboard shows was written by strangers, so each
// goes through one of these. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

// & < > " ' as character references: safe in text and in attribute values in either quotes.
std::string HtmlText(std::string_view AText);
// Every byte but letters, digits and - . _ ~ as %XX: safe as one value of a query.
std::string QueryValue(std::string_view AText);
// Whether AUrl may be a link: it starts with http:// or https:// (any letter case) and holds
// no control character or blank. Anything else (javascript:, data:, a bare host) stays text.
bool IsWebLink(std::string_view AUrl);
// A web link's address for an href: bytes that cannot stand in a URL as %XX, then HtmlText.
std::string LinkAddress(std::string_view AUrl);
