// Folder helpers of the settings store.
#pragma once

#include <string>

// True when path names an existing folder (not a file).
bool FolderExists(const std::string& path);

// Creates path and every missing parent; true when the folder exists
// afterwards. An empty path raises EQvError("Unable to create directory").
bool CreateFolderPath(const std::string& path);

// True when path names an existing file (not a folder).
bool FileExists(const std::string& path);

// The path expanded to a full path; "" when the system cannot expand it.
std::string FullPathName(const std::string& path);

// True for the characters that end a folder name in a path.
constexpr bool IsPathDelimiter(char c) {
    return c == '\\' || c == '/';
}
