// Reads the version resource of a module file: the first translation's
// language, the eight standard strings and, optionally, the fixed file
// information with its flag bits decoded. Nothing is raised or shown; a
// record whose StringsValid is false tells the caller to keep its defaults.
//
// PUBLIC INTERFACE USED BY THE CORE -- keep these names and signatures.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct TVersionReaderResult {
    bool StringsValid = false;
    bool FixedInfoValid = false;
    std::string LanguageName;
    std::string CompanyName;
    std::string FileDescription;
    std::string FileVersion;
    std::string InternalName;
    std::string LegalCopyright;
    std::string OriginalFileName;
    std::string ProductName;
    std::string ProductVersion;
    uint16_t LanguageId = 0;
    uint16_t CodePage = 0;
    uint32_t FileVersionMS = 0, FileVersionLS = 0;
    uint32_t ProductVersionMS = 0, ProductVersionLS = 0;
    uint32_t FileFlagsMask = 0, FileFlags = 0;
    bool IsDebug = false, IsInfoInferred = false, IsPatched = false;
    bool IsPreRelease = false, IsPrivateBuild = false, IsSpecialBuild = false;
    uint32_t FileOS = 0, FileType = 0, FileSubtype = 0;
    uint32_t FileDateMS = 0, FileDateLS = 0;
};

class TVersionReader {
public:
    // Whether the fixed file information is read after the strings.
    bool ReadFixedInfo = true;
};

// Clears result and fills it from fileName (null reads as ""); returns it.
// When result is null a new record is allocated and returned, and the caller
// owns it: take it into a std::unique_ptr, or prefer the overload below.
TVersionReaderResult* ReadVersionInfo(TVersionReader& reader, const char* fileName,
                                      TVersionReaderResult* result);

// The same into a new record.
std::unique_ptr<TVersionReaderResult> ReadVersionInfo(TVersionReader& reader, const char* fileName);

// The library's own reader, result and path, exported as data.
extern "C" {
extern TVersionReader VersionReader;
extern TVersionReader* VersionReader1;
extern TVersionReaderResult VersionReaderResult;
extern std::string ThisLibraryFileName;
}
