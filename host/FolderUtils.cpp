#include "host/FolderUtils.h"

#include <windows.h>

#include "host/Errors.h"

namespace {

bool HasAttributes(const std::string& path, DWORD& attributes) {
    attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES;
}

// Everything up to and including the last delimiter; "" for a bare name.
std::string ParentOf(const std::string& path) {
    const auto last = path.find_last_of("\\/");
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

bool CreateOneFolder(const std::string& path) {
    if (CreateDirectoryA(path.c_str(), nullptr))
        return true;
    // Someone else may have made it between our look and our attempt.
    return GetLastError() == ERROR_ALREADY_EXISTS && FolderExists(path);
}

} // namespace

bool FolderExists(const std::string& path) {
    DWORD attributes = 0;
    return HasAttributes(path, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExists(const std::string& path) {
    DWORD attributes = 0;
    return HasAttributes(path, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool CreateFolderPath(const std::string& path) {
    if (path.empty())
        throw EQvError("Unable to create directory");
    std::string folder = path;
    if (IsPathDelimiter(folder.back()))
        folder.pop_back();
    // "C:" and "\" name roots, which exist or cannot be made.
    if (folder.size() < 3 || FolderExists(folder))
        return true;
    const std::string parent = ParentOf(folder);
    if (parent == folder)
        return true;
    // A bare name has no parent to make: it is created in the current folder.
    if (!parent.empty() && !CreateFolderPath(parent))
        return false;
    return CreateOneFolder(folder);
}

std::string FullPathName(const std::string& path) {
    char full[MAX_PATH * 2] = {};
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length == 0 || length >= sizeof full ? std::string() : std::string(full, length);
}
