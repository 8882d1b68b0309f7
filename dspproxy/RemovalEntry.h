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

// Splits content into lines at CR LF only (any other CR or LF, and zero
// bytes, stay inside their line), and writes every line back ending in CR LF.
// The entry line goes before the first section header ("[" at the start of a
// non-empty line) that follows the first "[WINAMP]" line (exactly that text,
// in any letter case); when that section is the file's last, at the end. A
// file without such a section gets no entry.
std::string RewriteWithRemovalEntry(std::string_view content, std::string_view removedFile);

// The whole file as bytes, or nothing when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Writes size bytes at data to file; false on failure, with written set to
// what did go out. The file replacement's one seam: tests pass a writer that
// fails half way, as a full disk does.
using ChunkWriter = bool (*)(HANDLE file, const char* data, DWORD size, DWORD& written);
bool WriteChunk(HANDLE file, const char* data, DWORD size, DWORD& written);

// Gives the file at path the new content, or leaves it byte for byte as it
// was and returns false. A read-only file is refused as Windows would.
bool ReplaceFileContent(const std::string& path, std::string_view content,
                        ChunkWriter write = WriteChunk);

} // namespace qv
