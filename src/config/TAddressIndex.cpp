#include "config/TAddressIndex.h"

#include "base/IPAddress.h"

std::string TAddressIndex::KeyOf(std::string_view AText) {
    // A text without a colon is no IPv6 address; a dotted IPv4 one is already in its form.
    if (AText.find(':') != std::string_view::npos)
        if (std::optional<TIPAddress> address = ParseIPAddress(AText))
            return IPAddressText(*address);
    std::string folded(AText);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

std::shared_ptr<const TAddressIndex>
TAddressIndex::OfNickNames(const std::vector<std::string>& ALines) {
    auto index = std::make_shared<TAddressIndex>();
    index->FEntries.reserve(ALines.size());
    for (const std::string& line : ALines) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos)
            index->FEntries.try_emplace(KeyOf(std::string_view(line).substr(0, equals)),
                                        line.substr(equals + 1));
    }
    return index;
}

std::shared_ptr<const TAddressIndex>
TAddressIndex::OfNoLogs(const std::vector<std::string>& ALines) {
    auto index = std::make_shared<TAddressIndex>();
    index->FEntries.reserve(ALines.size());
    for (const std::string& line : ALines)
        index->FEntries.try_emplace(KeyOf(line));
    return index;
}

const std::string* TAddressIndex::Find(std::string_view AAddress) const {
    auto found = FEntries.find(KeyOf(AAddress));
    return found == FEntries.end() ? nullptr : &found->second;
}
