#include "http/TNetMimeTable.h"

#include <fstream>
#include <mutex>
#include <sstream>

namespace {

std::string LowerCaseAscii(std::string AText) {
    for (char& c : AText) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return AText;
}

// A name already present gets the new value; an empty value removes it.
void Enter(std::map<std::string, std::string>& AMap, const std::string& AExt,
           const std::string& AType) {
    if (AType.empty())
        AMap.erase(AExt);
    else
        AMap[AExt] = AType;
}

} // namespace

std::string ExtractFileExtension(const std::string& AFileName) {
    const size_t slash = AFileName.find_last_of('/');
    const std::string name = slash == std::string::npos ? AFileName : AFileName.substr(slash + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

TNetMimeTable::TNetMimeTable(std::string AMimeTypesPath)
    : FMimeTypesPath(std::move(AMimeTypesPath)) {
    Reload();
}

TNetMimeTable::TTypeMap TNetMimeTable::LoadMimeTypesFile(const std::string& APath) {
    TTypeMap map;
    std::ifstream file(APath);
    std::string line;
    while (std::getline(file, line)) {
        if (std::size_t hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string type, ext;
        if (!(words >> type))
            continue;
        while (words >> ext)
            Enter(map, "." + LowerCaseAscii(ext), type);
    }
    return map;
}

TNetMimeTable::TTypeMap TNetMimeTable::BuiltInTypes() {
    return {{".css", "text/css"},       {".gif", "image/gif"},         {".htm", "text/html"},
            {".html", "text/html"},     {".ico", "image/x-icon"},      {".jpg", "image/jpeg"},
            {".js", "text/javascript"}, {".json", "application/json"}, {".png", "image/png"},
            {".svg", "image/svg+xml"},  {".txt", "text/plain"}};
}

void TNetMimeTable::Reload() {
    // Read the file without the lock, so lookups wait only for the swap.
    TTypeMap fileTypes = LoadMimeTypesFile(FMimeTypesPath);
    TTypeMap builtIn = BuiltInTypes();
    std::unique_lock lock(FLock);
    FFileTypes.swap(fileTypes);
    FBuiltInTypes.swap(builtIn);
}

std::string TNetMimeTable::Lookup(const TTypeMap& AMap, const std::string& AExt) const {
    std::shared_lock lock(FLock);
    const auto it = AMap.find(AExt);
    return it == AMap.end() ? std::string() : it->second;
}

std::string TNetMimeTable::MimeTypeOf(const std::string& AFileName) {
    const std::string ext = LowerCaseAscii(ExtractFileExtension(AFileName));
    std::string type = Lookup(FFileTypes, ext);
    if (!type.empty())
        return type;
    Reload();
    type = Lookup(FBuiltInTypes, ext);
    return type.empty() ? "application/octet-stream" : type;
}
