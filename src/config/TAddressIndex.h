// Look-up table of the nickname or the no-log list: an address is found with one hash look-up,
// letter case ignored and IPv6 addresses compared in their short form, so a list of 100,000
// lines costs a hit what a list of ten does.
// Built once per list on the thread that publishes it; immutable, so any thread may read it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/KeyedHash.h"

class TAddressIndex {
public:
    // "IP=Name" lines: the text before the first "=" is the address, the rest of the line the
    // name; the first line of an address wins, lines without "=" are passed over.
    static std::shared_ptr<const TAddressIndex> OfNickNames(const std::vector<std::string>& ALines);
    // One address per line, the whole line.
    static std::shared_ptr<const TAddressIndex> OfNoLogs(const std::vector<std::string>& ALines);

    // The name of the address (empty for a no-log line), or nullptr when it is not listed.
    const std::string* Find(std::string_view AAddress) const;

    // What an address or list entry is compared as: ASCII letters folded to lower case, as the
    // lists have always been compared, and an IPv6 address (a text with a colon) in the short
    // form every record shows, so "2001:DB8:0::1" and "2001:db8::1" are one. An IPv4-mapped
    // one is its dotted IPv4 address.
    static std::string KeyOf(std::string_view AText);

private:
    // Keyed at random: the addresses looked up are the clients', so none may aim at a bucket.
    std::unordered_map<std::string, std::string, TKeyedHash, std::equal_to<>> FEntries;
};
