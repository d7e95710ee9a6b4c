// Content type of a file name by its extension: the system's MIME types file, then a
// built-in table, then "application/octet-stream". Shared by all peer threads of a server.
#pragma once

#include <map>
#include <shared_mutex>
#include <string>

class TNetMimeTable {
public:
    // AMimeTypesPath: a file in the mime.types format ("type ext ext ...", "#" comments).
    explicit TNetMimeTable(std::string AMimeTypesPath = "/etc/mime.types");

    // Never empty. The extension (dot included) is compared case-insensitively; a miss in the
    // file's map reloads both maps and then asks the built-in one.
    std::string MimeTypeOf(const std::string& AFileName);

    // Fills both maps again; safe while other threads look up.
    void Reload();

private:
    using TTypeMap = std::map<std::string, std::string>; // lower-case ".ext" -> type

    static TTypeMap LoadMimeTypesFile(const std::string& APath);
    static TTypeMap BuiltInTypes();
    std::string Lookup(const TTypeMap& AMap, const std::string& AExt) const;

    const std::string FMimeTypesPath;
    mutable std::shared_mutex FLock; // guards FFileTypes and FBuiltInTypes
    TTypeMap FFileTypes;
    TTypeMap FBuiltInTypes;
};

// The extension of the last path component, from its last "." (dot included); empty if none.
std::string ExtractFileExtension(const std::string& AFileName);
