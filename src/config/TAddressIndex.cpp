#include "config/TAddressIndex.h"

namespace {

std::string Folded(std::string_view AText) {
    std::string folded(AText);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

} // namespace

std::shared_ptr<const TAddressIndex>
TAddressIndex::OfNickNames(const std::vector<std::string>& ALines) {
    auto index = std::make_shared<TAddressIndex>();
    index->FEntries.reserve(ALines.size());
    for (const std::string& line : ALines) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos)
            index->FEntries.try_emplace(Folded(std::string_view(line).substr(0, equals)),
                                        line.substr(equals + 1));
    }
    return index;
}

std::shared_ptr<const TAddressIndex>
TAddressIndex::OfNoLogs(const std::vector<std::string>& ALines) {
    auto index = std::make_shared<TAddressIndex>();
    index->FEntries.reserve(ALines.size());
    for (const std::string& line : ALines)
        index->FEntries.try_emplace(Folded(line));
    return index;
}

const std::string* TAddressIndex::Find(std::string_view AAddress) const {
    auto found = FEntries.find(Folded(AAddress));
    return found == FEntries.end() ? nullptr : &found->second;
}
