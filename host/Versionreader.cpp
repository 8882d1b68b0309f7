#include "host/Versionreader.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The version block of one file, read once and queried by path.
class TVersionBlock {
public:
    explicit TVersionBlock(const char* fileName) {
        DWORD handle = 900; // must come back 0, else the block is unusable
        const DWORD size = GetFileVersionInfoSizeA(fileName, &handle);
        if (size == 0 || handle != 0)
            return;
        Data.resize(size);
        if (!GetFileVersionInfoA(fileName, 0, size, Data.data()))
            Data.clear();
    }

    bool Valid() const { return !Data.empty(); }

    // The value at path and its length as the platform reports it.
    bool Query(const std::string& path, const void*& value, UINT& length) {
        void* found = nullptr;
        length = 0;
        if (!VerQueryValueA(Data.data(), path.c_str(), &found, &length) || found == nullptr)
            return false;
        value = found;
        return true;
    }

    // A string value; its length bounds the read, as a value need not end in a zero.
    bool QueryText(const std::string& path, std::string& text) {
        const void* value = nullptr;
        UINT length = 0;
        if (!Query(path, value, length))
            return false;
        const auto* chars = static_cast<const char*>(value);
        text.assign(chars, strnlen(chars, length));
        return true;
    }

private:
    std::vector<char> Data;
};

struct TStringKey {
    const char* Key;
    std::string TVersionReaderResult::*Field;
};

constexpr TStringKey StringKeys[] = {
    {"\\CompanyName", &TVersionReaderResult::CompanyName},
    {"\\FileDescription", &TVersionReaderResult::FileDescription},
    {"\\FileVersion", &TVersionReaderResult::FileVersion},
    {"\\InternalName", &TVersionReaderResult::InternalName},
    {"\\LegalCopyright", &TVersionReaderResult::LegalCopyright},
    {"\\OriginalFileName", &TVersionReaderResult::OriginalFileName},
    {"\\ProductName", &TVersionReaderResult::ProductName},
    {"\\ProductVersion", &TVersionReaderResult::ProductVersion},
};

bool ReadTranslation(TVersionBlock& block, TVersionReaderResult& result) {
    const void* value = nullptr;
    UINT length = 0;
    if (!block.Query("\\VarFileInfo\\Translation", value, length) || length < 2 * sizeof(WORD))
        return false;
    WORD entry[2];
    std::memcpy(entry, value, sizeof entry);
    result.LanguageId = entry[0];
    result.CodePage = entry[1];
    char name[256] = {};
    const DWORD nameLength = VerLanguageNameA(result.LanguageId, name, sizeof name);
    result.LanguageName.assign(name, nameLength < sizeof name ? nameLength : 0);
    return true;
}

// "\StringFileInfo\" + language and code page as eight lower-case hex digits.
std::string StringTablePath(const TVersionReaderResult& result) {
    char path[32] = {};
    std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x",
                  static_cast<unsigned>(result.LanguageId), static_cast<unsigned>(result.CodePage));
    return path;
}

// Stops at the first missing key, leaving the strings read so far.
bool ReadStrings(TVersionBlock& block, TVersionReaderResult& result) {
    const std::string table = StringTablePath(result);
    for (const TStringKey& key : StringKeys)
        if (!block.QueryText(table + key.Key, result.*key.Field))
            return false;
    return true;
}

// A flag counts only where the mask says the flags field is meaningful.
bool FlagSet(const TVersionReaderResult& result, DWORD flag) {
    return (result.FileFlagsMask & flag) != 0 && (result.FileFlags & flag) != 0;
}

bool ReadFixedFileInfo(TVersionBlock& block, TVersionReaderResult& result) {
    const void* value = nullptr;
    UINT length = 0;
    if (!block.Query("\\", value, length) || length < sizeof(VS_FIXEDFILEINFO))
        return false;
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, value, sizeof info);
    result.FileVersionMS = info.dwFileVersionMS;
    result.FileVersionLS = info.dwFileVersionLS;
    result.ProductVersionMS = info.dwProductVersionMS;
    result.ProductVersionLS = info.dwProductVersionLS;
    result.FileFlagsMask = info.dwFileFlagsMask;
    result.FileFlags = info.dwFileFlags;
    result.FileOS = info.dwFileOS;
    result.FileType = info.dwFileType;
    result.FileSubtype = info.dwFileSubtype;
    result.FileDateMS = info.dwFileDateMS;
    result.FileDateLS = info.dwFileDateLS;
    result.IsDebug = FlagSet(result, VS_FF_DEBUG);
    result.IsInfoInferred = FlagSet(result, VS_FF_INFOINFERRED);
    result.IsPatched = FlagSet(result, VS_FF_PATCHED);
    result.IsPreRelease = FlagSet(result, VS_FF_PRERELEASE);
    result.IsPrivateBuild = FlagSet(result, VS_FF_PRIVATEBUILD);
    result.IsSpecialBuild = FlagSet(result, VS_FF_SPECIALBUILD);
    return true;
}

void Fill(const TVersionReader& reader, const char* fileName, TVersionReaderResult& result) {
    result = TVersionReaderResult();
    TVersionBlock block(fileName != nullptr ? fileName : "");
    if (!block.Valid() || !ReadTranslation(block, result) || !ReadStrings(block, result))
        return;
    result.StringsValid = true;
    if (reader.ReadFixedInfo)
        result.FixedInfoValid = ReadFixedFileInfo(block, result);
}

} // namespace

std::unique_ptr<TVersionReaderResult> ReadVersionInfo(TVersionReader& reader,
                                                      const char* fileName) {
    auto result = std::make_unique<TVersionReaderResult>();
    Fill(reader, fileName, *result);
    return result;
}

TVersionReaderResult* ReadVersionInfo(TVersionReader& reader, const char* fileName,
                                      TVersionReaderResult* result) {
    if (result == nullptr)
        return ReadVersionInfo(reader, fileName).release(); // the caller owns it
    Fill(reader, fileName, *result);
    return result;
}

extern "C" {
TVersionReader VersionReader;
TVersionReader* VersionReader1 = nullptr;
TVersionReaderResult VersionReaderResult;
std::string ThisLibraryFileName;
}
