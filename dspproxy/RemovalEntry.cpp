#include "dspproxy/RemovalEntry.h"

#include <algorithm>

namespace qv {
namespace {

constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view PlayerSection = "[WINAMP]";
constexpr std::string_view RemovalKey = "remove_genplug=";
constexpr std::string_view MarkSection = "[QUELLSPRING DETECTOR DSP]";
constexpr std::string_view MarkKey = "RESTARTREQUESTEDFOR=";
constexpr std::string_view MarkLine = "RestartRequestedFor=";

// The C library's default mapping: only a to z change.
char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

bool EqualsUpper(std::string_view text, std::string_view upper) {
    return std::equal(text.begin(), text.end(), upper.begin(), upper.end(),
                      [](char a, char b) { return Upper(a) == b; });
}

bool IsPlayerSectionHeader(std::string_view line) {
    return EqualsUpper(line, PlayerSection);
}

// The file's byte-order mark and line end, and its lines after the mark.
struct Spelling {
    std::string_view mark;
    std::string_view lineEnd;
    std::string_view body;
};

std::optional<Spelling> SpellingOf(std::string_view content) {
    if (content.starts_with("\xFF\xFE") || content.starts_with("\xFE\xFF"))
        return std::nullopt;
    Spelling spelling;
    if (content.starts_with(Utf8Mark)) {
        spelling.mark = Utf8Mark;
        content.remove_prefix(Utf8Mark.size());
    }
    spelling.lineEnd = content.find("\r\n") == std::string_view::npos &&
                               content.find('\n') != std::string_view::npos
                           ? "\n"
                           : "\r\n";
    spelling.body = content;
    return spelling;
}

bool IsSectionHeader(std::string_view line) {
    return !line.empty() && line.front() == '[';
}

// Removes the text before the first line end, and the line end, from content.
std::string_view TakeLine(std::string_view& content, std::string_view lineEnd) {
    const size_t end = content.find(lineEnd);
    const std::string_view line = content.substr(0, end);
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + lineEnd.size());
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

std::optional<ULONGLONG> SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    return (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

} // namespace

std::optional<std::string> RewriteWithRemovalEntry(std::string_view content,
                                                   std::string_view removedFile) {
    const std::optional<Spelling> spelling = SpellingOf(content);
    if (!spelling)
        return std::nullopt;
    std::string out(spelling->mark);
    out.reserve(content.size() + removedFile.size() + 64);
    const auto addLine = [&](std::string_view line) {
        out.append(line);
        out.append(spelling->lineEnd);
    };
    const std::string entry = std::string(RemovalKey) + std::string(removedFile);
    enum { BeforeSection, InSection, Done } where = BeforeSection;
    std::string_view rest = spelling->body;
    while (!rest.empty()) {
        const std::string_view line = TakeLine(rest, spelling->lineEnd);
        if (where == InSection && IsSectionHeader(line)) {
            addLine(entry);
            where = Done;
        }
        if (where == BeforeSection && IsPlayerSectionHeader(line))
            where = InSection;
        addLine(line);
    }
    if (where == InSection)
        addLine(entry);
    if (where == BeforeSection)
        return std::nullopt;
    return out;
}

std::string RestartMark(std::string_view content) {
    const std::optional<Spelling> spelling = SpellingOf(content);
    if (!spelling)
        return {};
    std::string_view rest = spelling->body;
    bool inMarkSection = false;
    while (!rest.empty()) {
        const std::string_view line = TakeLine(rest, spelling->lineEnd);
        if (IsSectionHeader(line))
            inMarkSection = EqualsUpper(line, MarkSection);
        else if (inMarkSection && line.size() >= MarkKey.size() &&
                 EqualsUpper(line.substr(0, MarkKey.size()), MarkKey))
            return std::string(line.substr(MarkKey.size()));
    }
    return {};
}

std::optional<std::string> WithRestartMark(std::string_view content, std::string_view cause) {
    const std::optional<Spelling> spelling = SpellingOf(content);
    if (!spelling)
        return std::nullopt;
    std::string out(spelling->mark);
    const auto addLine = [&](std::string_view line) {
        out.append(line);
        out.append(spelling->lineEnd);
    };
    std::string_view rest = spelling->body;
    bool inMarkSection = false;
    while (!rest.empty()) {
        const std::string_view line = TakeLine(rest, spelling->lineEnd);
        if (IsSectionHeader(line))
            inMarkSection = EqualsUpper(line, MarkSection);
        if (!inMarkSection)
            addLine(line);
    }
    if (!cause.empty()) {
        addLine("[Quellspring Detector DSP]");
        addLine(std::string(MarkLine) + std::string(cause));
    }
    return out;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid())
        return std::nullopt;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size) ||
        static_cast<ULONGLONG>(size.QuadPart) > MaxSettingsFileSize)
        return std::nullopt;
    try {
        std::string content;
        content.reserve(static_cast<size_t>(size.QuadPart));
        char chunk[4096];
        DWORD read = 0;
        // The size is checked again as the file grows under the read.
        while (ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr)) {
            if (read == 0)
                return content;
            if (content.size() + read > MaxSettingsFileSize)
                return std::nullopt;
            content.append(chunk, read);
        }
    } catch (const std::bad_alloc&) {
    }
    return std::nullopt;
}

bool WriteChunk(HANDLE file, const char* data, DWORD size, DWORD& written) {
    written = 0;
    return WriteFile(file, data, size, &written, nullptr) != 0;
}

BOOL WINAPI FileSteps::ReplaceStep(LPCSTR replaced, LPCSTR replacement, LPCSTR backup) {
    return ReplaceFileA(replaced, replacement, backup, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                        nullptr);
}

BOOL WINAPI FileSteps::MoveStep(LPCSTR from, LPCSTR to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool ReplaceFileContent(const std::string& path, std::string_view content, const FileSteps& steps) {
    // Wine replaces a read-only file where Windows refuses; refuse here alike.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    if (existed && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return false;
    const std::optional<ULONGLONG> originalSize = existed ? SizeOf(path) : std::nullopt;
    TemporaryFile temporary(path);
    if (temporary.Path().empty() || !WriteAll(temporary.Path(), content, steps.write))
        return false;
    // ReplaceFile keeps the original's attributes and security. With a backup
    // name, a swap that fails half way (ERROR_UNABLE_TO_MOVE_REPLACEMENT and
    // _2) leaves the original there instead of nowhere.
    TemporaryFile backup(path);
    if (existed && !backup.Path().empty() &&
        steps.replace(path.c_str(), temporary.Path().c_str(), backup.Path().c_str())) {
        temporary.Release();
        return true;
    }
    // Untouched (or a file system without ReplaceFile, or no file before):
    // a plain rename over it.
    if (steps.move(temporary.Path().c_str(), path.c_str())) {
        temporary.Release();
        return true;
    }
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    // The original has left its name and no rename works: put the old
    // content back from the backup, else copy the new content in.
    const bool backupIsOriginal =
        existed && !backup.Path().empty() && SizeOf(backup.Path()) == originalSize;
    if (backupIsOriginal && steps.move(backup.Path().c_str(), path.c_str())) {
        backup.Release();
        return false;
    }
    if (CopyFileA(temporary.Path().c_str(), path.c_str(), TRUE))
        return true;
    if (backupIsOriginal)
        CopyFileA(backup.Path().c_str(), path.c_str(), TRUE);
    return false;
}

bool ReplaceFileContent(const std::string& path, std::string_view content, ChunkWriter write) {
    FileSteps steps;
    steps.write = write;
    return ReplaceFileContent(path, content, steps);
}

} // namespace qv
