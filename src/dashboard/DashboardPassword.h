// The dashboard's password as the settings file keeps it: PBKDF2-HMAC-SHA-256 with a random
// salt, "pbkdf2-sha256$<rounds>$<salt hex>$<hash hex>", and the check of a password against it.
// Pure functions; any thread. A check costs as many rounds as the stored form names.
#pragma once

#include <string>
#include <string_view>

inline constexpr int PasswordRounds = 600000;

// The stored form of APassword with a new 16-byte salt; empty when the system gave no random
// bytes. Tests pass fewer rounds.
std::string MakePasswordHash(std::string_view APassword, int ARounds = PasswordRounds);
// Whether AStored has the form above (rounds from 1 to 100,000,000, salt and hash in hex).
bool ValidPasswordHash(std::string_view AStored);
// Whether APassword is the one AStored was made of; false for a form that is not valid.
bool PasswordMatches(std::string_view APassword, std::string_view AStored);
