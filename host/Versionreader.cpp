// Placeholder until the version reader lands.
#include "host/Versionreader.h"

TVersionReaderResult* ReadVersionInfo(TVersionReader&, const char*, TVersionReaderResult* result) {
    return result;
}

extern "C" {
TVersionReader VersionReader;
TVersionReader* VersionReader1 = nullptr;
TVersionReaderResult VersionReaderResult;
std::string ThisLibraryFileName;
}
