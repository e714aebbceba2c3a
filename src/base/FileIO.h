// Whole-file read and atomic replace, shared by every writer of the user's files (edited
// documents, connection profiles, the INI file).
//
// ReplaceFile never truncates the file in place: it writes a temporary file in the same folder,
// flushes it to the disk and renames it over the old one, so a write that fails at any step (disk
// full, quota, a vanished folder) leaves the old file exactly as it was and removes the temporary.
// Plain C++ over POSIX calls.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

enum class TReadResult { rrOk, rrMissing, rrFailed, rrTooLarge };

inline constexpr std::size_t kNoSizeLimit = static_cast<std::size_t>(-1);

// Reads the regular file at path into out. rrMissing when it does not exist, rrFailed when it is
// not a regular file or cannot be read, rrTooLarge (out empty) when it holds more than maxBytes.
TReadResult ReadWholeFile(const std::string& path, std::string& out, std::size_t maxBytes = kNoSizeLimit);

// Replaces the file at path by bytes as described above. An existing file keeps its permission bits
// (and, where allowed, its owner); a new one gets newFileMode. A symbolic link is written through to
// its target. Refuses (false, nothing touched) an empty path, a target that is not a regular file,
// and a file without any write permission bit (the read-only attribute, which holds even for root).
// On false errno tells why.
bool ReplaceFile(const std::string& path, std::string_view bytes, unsigned newFileMode = 0644);
