// Reads the version resource of a module file.
//
// PUBLIC INTERFACE USED BY THE CORE -- keep these names and signatures.
#pragma once

#include <cstdint>
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
    bool ReadFixedInfo = true;
};

// Fills result (or, when it is null, a new record the caller then owns).
TVersionReaderResult* ReadVersionInfo(TVersionReader& reader, const char* fileName,
                                      TVersionReaderResult* result);

// The library's own reader, result and path, exported as data.
extern "C" {
extern TVersionReader VersionReader;
extern TVersionReader* VersionReader1;
extern TVersionReaderResult VersionReaderResult;
extern std::string ThisLibraryFileName;
}
