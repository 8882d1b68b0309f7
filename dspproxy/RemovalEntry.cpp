#include "dspproxy/RemovalEntry.h"

#include <algorithm>

namespace qv {
namespace {

constexpr std::string_view LineEnd = "\r\n";
constexpr std::string_view PlayerSection = "[WINAMP]";
constexpr std::string_view RemovalKey = "remove_genplug=";

// The C library's default mapping: only a to z change.
bool IsPlayerSectionHeader(std::string_view line) {
    return std::equal(line.begin(), line.end(), PlayerSection.begin(), PlayerSection.end(),
                      [](char a, char b) { return (a >= 'a' && a <= 'z' ? a - 32 : a) == b; });
}

bool IsSectionHeader(std::string_view line) {
    return !line.empty() && line.front() == '[';
}

// Removes the text before the first CR LF, and the CR LF, from content.
std::string_view TakeLine(std::string_view& content) {
    const size_t end = content.find(LineEnd);
    const std::string_view line = content.substr(0, end);
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + LineEnd.size());
    return line;
}

class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& besides) {
        const size_t slash = besides.find_last_of("\\/");
        const std::string folder = slash == std::string::npos ? "." : besides.substr(0, slash + 1);
        char name[MAX_PATH + 1] = {};
        if (GetTempFileNameA(folder.c_str(), "qvq", 0, name) != 0)
            path_ = name;
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path_.empty())
            DeleteFileA(path_.c_str());
    }
    const std::string& Path() const { return path_; }
    // The file now lives on under another name.
    void Release() { path_.clear(); }

private:
    std::string path_;
};

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { Close(); }
    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool Close() {
        const bool closed = !Valid() || CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle_;
};

bool WriteAll(const std::string& path, std::string_view content, ChunkWriter write) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return false;
    while (!content.empty()) {
        const auto size = static_cast<DWORD>(std::min<size_t>(content.size(), 1u << 20));
        DWORD written = 0;
        const bool ok = write(file.Get(), content.data(), size, written);
        content.remove_prefix(std::min<size_t>(written, content.size()));
        if (!ok || written == 0)
            return false;
    }
    return FlushFileBuffers(file.Get()) && file.Close();
}

} // namespace

std::string RewriteWithRemovalEntry(std::string_view content, std::string_view removedFile) {
    std::string out;
    out.reserve(content.size() + removedFile.size() + 64);
    const auto addLine = [&out](std::string_view line) {
        out.append(line);
        out.append(LineEnd);
    };
    enum { BeforeSection, InSection, Done } where = BeforeSection;
    while (!content.empty()) {
        const std::string_view line = TakeLine(content);
        if (where == InSection && IsSectionHeader(line)) {
            addLine(std::string(RemovalKey) + std::string(removedFile));
            where = Done;
        }
        if (where == BeforeSection && IsPlayerSectionHeader(line))
            where = InSection;
        addLine(line);
    }
    if (where == InSection)
        addLine(std::string(RemovalKey) + std::string(removedFile));
    return out;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid())
        return std::nullopt;
    std::string content;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr)) {
        if (read == 0)
            return content;
        content.append(chunk, read);
    }
    return std::nullopt;
}

bool WriteChunk(HANDLE file, const char* data, DWORD size, DWORD& written) {
    written = 0;
    return WriteFile(file, data, size, &written, nullptr) != 0;
}

bool ReplaceFileContent(const std::string& path, std::string_view content, ChunkWriter write) {
    // Wine replaces a read-only file where Windows refuses; refuse here alike.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return false;
    TemporaryFile temporary(path);
    if (temporary.Path().empty() || !WriteAll(temporary.Path(), content, write))
        return false;
    // ReplaceFile keeps the original's attributes and security; MoveFileEx
    // covers a file that did not exist and file systems without it.
    const bool replaced = ReplaceFileA(path.c_str(), temporary.Path().c_str(), nullptr,
                                       REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) ||
                          MoveFileExA(temporary.Path().c_str(), path.c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (replaced)
        temporary.Release();
    return replaced;
}

} // namespace qv
