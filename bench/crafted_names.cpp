// Page names an attacker would send against a counting table hashed with std::hash (as the
// statistics' table once was): names whose hashes all pick the same slot of a table of up to
// 16384 slots (the upper 32 bits are the slot), so every look-up walks one long run. Prints
// COUNT such names, then COUNT ordinary names of the same form and length for the anchor.
// Usage: crafted_names COUNT
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 4000;
    auto slot = [](const std::string& AName) {
        return std::hash<std::string_view>()(AName) >> 32 & 16383;
    };
    std::string name;
    long found = 0, ordinary = 0;
    for (std::uint64_t i = 0; found < count; ++i) {
        name = "/c" + std::to_string(100000000 + i);
        if (slot(name) == 0) {
            std::printf("%s\n", name.c_str());
            ++found;
        }
    }
    for (std::uint64_t i = 0; ordinary < count; ++i) {
        name = "/o" + std::to_string(100000000 + i * 7919);
        std::printf("%s\n", name.c_str());
        ++ordinary;
    }
    return 0;
}
