// Connection profiles: the five connection fields of the FTP page in a ".vrnl" text file, one
// field per line in a fixed order, each line ended by CR LF, no header, no key names, no escaping.
// The password is stored as typed; that is the format, and other copies of the program read it.
//
// Reading is lenient about line ends (CR LF, LF or CR), stops at a NUL and ignores extra lines;
// a short file fills what it has and then fails at the first missing line, as the window's fields
// are filled one after the other. Writing replaces the file only once the new one is complete.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct TProfile {
    std::string Host;      // FTPEdit, "Host Server"
    std::string User;      // LogonEdit, "User ID"
    std::string Password;  // PassEdit, "Password"
    std::string ServerDir; // FTPDirEdit, "Server Start Directory"
    std::string LocalDir;  // LocalDirEdit, "Local Start Directory"
    // EncryptionBox, "Encryption": a sixth line, which readers of five lines skip, so older
    // copies of the program still read the file. "" (no sixth line, or one that is not one of
    // ProfileEncryptionNames) means the default.
    std::string Encryption{};
};

// The sixth line's words, in the order of the Encryption choices; index 0 is the default.
inline constexpr const char* ProfileEncryptionNames[] = {"explicit", "explicit-required", "implicit",
                                                         "plain"};
// The choice a sixth line names; 0 (the default) for an empty or unknown word.
int ProfileEncryptionIndex(std::string_view word);

inline constexpr int ProfileLineCount = 5;

// Splits text into lines the way the reader does: CR LF, LF and CR each end a line, a NUL ends the
// text, a last line without line end counts, a line end at the very end adds no empty line.
std::vector<std::string> SplitProfileLines(std::string_view text);

// Fills profile from text, field by field in file order. When a line is missing, throws
// EVarnelloError "List index out of bounds (<index>)" with the zero-based number of that line;
// the fields before it keep their new values, the others are untouched.
void ParseProfile(std::string_view text, TProfile& profile);

// The file's bytes for profile: five lines, and a sixth when Encryption is set, each ended by
// CR LF.
std::string FormatProfile(const TProfile& profile);

// Reads the profile at path into profile as ParseProfile does. Throws EVarnelloError
// "Cannot open file <path>" when the file cannot be read (profile untouched).
void LoadProfile(const std::string& path, TProfile& profile);

// Writes profile to path, replacing an existing file. The bytes go to a temporary file in the same
// folder that is renamed over the target once complete, so a failed write leaves the old file as it
// was. A file without any write permission is treated as read-only and left alone. Throws
// EVarnelloError "Cannot create file <path>" on any failure; a field holding a line break or a NUL,
// which the format cannot carry, fails the same way (with the reason appended) before anything is
// written, since it would shift every later field on reading.
void SaveProfile(const std::string& path, const TProfile& profile);
