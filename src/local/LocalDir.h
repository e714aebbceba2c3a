// Local folder listing and the path rules of the local panel.
//
// A listing delivers the same kind of record as a server listing (attributes with the folder
// bit 0x10, last-write time as FILETIME in UTC, 64-bit size, name), so one routine fills the
// entries of both lists. Paths use "/" and "/" is the top of the tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY_BIT = 0x10;

struct TListRecord {
    uint32_t Attributes = 0;
    uint64_t LastWriteTime = 0; // 100-ns units since 1601-01-01, UTC
    uint64_t Size = 0;
    std::string Name;
    bool IsLink = false; // a symbolic link; the other fields describe what it points to
};

// Seconds since 1970 to FILETIME and back.
uint64_t UnixTimeToFileTime(int64_t seconds, uint32_t nanoseconds = 0);
int64_t FileTimeToUnixTime(uint64_t fileTime);

// Every entry of `dir` except ".", in the order the file system delivers them; ".." is kept
// except at the top folder "/". A folder that cannot be read yields an empty list.
std::vector<TListRecord> ListLocalEntries(const std::string& dir);

// True for the empty name and for names made only of dots ("." "..", "...").
bool IsDotsName(const std::string& name);

// `text` with `c` appended unless it already ends with it; the empty text gives `c`.
std::string EnsureTrailing(const std::string& text, char c);

// The folder above `dir`: the part up to its last "/", without that "/"; the top stays "/".
std::string ParentLocalDir(const std::string& dir);
