#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "skav-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    FPath = pattern + "/";
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::permissions(FPath, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(FPath, ignored);
}

void TempDir::WriteFile(const std::string& ARelative, const std::string& AContent) const {
    std::ofstream out(FPath + ARelative, std::ios::binary | std::ios::trunc);
    out << AContent;
}

std::string TempDir::ReadFile(const std::string& ARelative) const {
    std::ifstream in(FPath + ARelative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempDir::Exists(const std::string& ARelative) const { return fs::exists(FPath + ARelative); }

static int CountEntries(const char* ADir) {
    int count = 0;
    std::error_code ec;
    for (auto it = fs::directory_iterator(ADir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        ++count;
    return count;
}

int OpenDescriptorCount() { return CountEntries("/proc/self/fd"); }

int ThreadCount() { return CountEntries("/proc/self/task"); }
