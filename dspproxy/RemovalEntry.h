// The player's settings-file entry that asks it to remove a plug-in file at
// its next start: "remove_genplug=" followed by the file's full path, at the
// end of the player's "[WINAMP]" section.
//
// The rewrite is a pure function of the file's bytes; the file is then
// replaced as a whole (a temporary file beside it, swapped in only after it
// was written in full), so a failed write never costs the player its
// settings.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

namespace qv {

// How the player's settings file is spelt: an optional UTF-8 byte-order mark,
// then lines that end in CR LF, or in LF alone when the file has no CR LF at
// all. Every rewrite keeps the file's own mark and line end. A UTF-16 file
// (its byte-order mark first) is not rewritten at all: nothing here can keep
// it as it is while adding a line.

// Splits content into lines at the file's line end (any other CR or LF, and
// zero bytes, stay inside their line), and writes every line back ending in
// it. The entry line goes before the first section header ("[" at the start
// of a non-empty line) that follows the first "[WINAMP]" line (exactly that
// text, in any letter case); when that section is the file's last, at the
// end. Nothing when the file has no such section or is UTF-16: the caller
// then leaves the file alone.
std::optional<std::string> RewriteWithRemovalEntry(std::string_view content,
                                                   std::string_view removedFile);

// Why the proxy last asked the player to restart, kept in a section of its
// own in the player's settings file so that a restart which did not cure the
// cause is not asked for again: "" when the file holds no such mark.
std::string RestartMark(std::string_view content);
// The content with the mark set to cause, or taken out for an empty cause;
// nothing for a UTF-16 file.
std::optional<std::string> WithRestartMark(std::string_view content, std::string_view cause);

// A settings file larger than this is not read: the player's own is a few
// kilobytes, and reading a huge one would only exhaust memory.
constexpr ULONGLONG MaxSettingsFileSize = 16u << 20;

// The whole file as bytes, or nothing when it cannot be opened or read, or
// is larger than MaxSettingsFileSize.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Writes size bytes at data to file; false on failure, with written set to
// what did go out. Tests pass a writer that fails half way, as a full disk
// does.
using ChunkWriter = bool (*)(HANDLE file, const char* data, DWORD size, DWORD& written);
bool WriteChunk(HANDLE file, const char* data, DWORD size, DWORD& written);

// The swap of a written temporary file into place: ReplaceFileA with a
// backup name, then MoveFileExA where that fails. Tests pass steps that fail
// each way ReplaceFileA can, half done included.
struct FileSteps {
    ChunkWriter write = WriteChunk;
    BOOL(WINAPI* replace)(LPCSTR replaced, LPCSTR replacement, LPCSTR backup) = ReplaceStep;
    BOOL(WINAPI* move)(LPCSTR from, LPCSTR to) = MoveStep;

    static BOOL WINAPI ReplaceStep(LPCSTR replaced, LPCSTR replacement, LPCSTR backup);
    static BOOL WINAPI MoveStep(LPCSTR from, LPCSTR to);
};

// Gives the file at path the new content and returns true, or leaves it as
// it was and returns false: whatever fails, the file exists afterwards under
// its name with the old or the new content, byte for byte, and no temporary
// file is left. A read-only file is refused as Windows would.
bool ReplaceFileContent(const std::string& path, std::string_view content,
                        const FileSteps& steps = {});
bool ReplaceFileContent(const std::string& path, std::string_view content, ChunkWriter write);

} // namespace qv
