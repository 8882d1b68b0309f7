// Where the built libraries are, seen from the test program's own folder.
#pragma once

#include <windows.h>

#include <string>

namespace qvtest {

inline std::string ProgramFolder() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string full(path, length);
    return full.substr(0, full.find_last_of('\\'));
}

} // namespace qvtest
