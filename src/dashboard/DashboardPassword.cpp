#include "dashboard/DashboardPassword.h"

#include <charconv>
#include <vector>

#include "tls/Crypto.h"

namespace {

const std::string_view Scheme = "pbkdf2-sha256";
constexpr std::size_t SaltBytes = 16;
constexpr std::size_t HashBytes = 32;
// More would make each sign-in a way to hold the processor for minutes.
constexpr int MaxRounds = 100000000;

struct TStoredPassword {
    int Rounds = 0;
    std::string Salt;
    std::string Hash;
};

bool ParseStored(std::string_view AStored, TStoredPassword& AResult) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = AStored.find('$', start);
        parts.push_back(AStored.substr(start, end - start));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    if (parts.size() != 4 || parts[0] != Scheme)
        return false;
    const char* end = parts[1].data() + parts[1].size();
    auto [ptr, ec] = std::from_chars(parts[1].data(), end, AResult.Rounds);
    AResult.Salt = BytesOfHex(parts[2]);
    AResult.Hash = BytesOfHex(parts[3]);
    return ec == std::errc() && ptr == end && AResult.Rounds >= 1 && AResult.Rounds <= MaxRounds &&
           !AResult.Salt.empty() && AResult.Hash.size() == HashBytes;
}

} // namespace

std::string MakePasswordHash(std::string_view APassword, int ARounds) {
    const std::string salt = RandomBytes(SaltBytes);
    const std::string hash = Pbkdf2Sha256(APassword, salt, ARounds, HashBytes);
    if (salt.empty() || hash.empty())
        return {};
    return std::string(Scheme) + "$" + std::to_string(ARounds) + "$" + HexText(salt) + "$" +
           HexText(hash);
}

bool ValidPasswordHash(std::string_view AStored) {
    TStoredPassword stored;
    return ParseStored(AStored, stored);
}

bool PasswordMatches(std::string_view APassword, std::string_view AStored) {
    TStoredPassword stored;
    if (!ParseStored(AStored, stored))
        return false;
    const std::string hash = Pbkdf2Sha256(APassword, stored.Salt, stored.Rounds, HashBytes);
    return !hash.empty() && SameSecret(hash, stored.Hash);
}
