// Local folder listing through POSIX readdir/stat, filled into listing records.
#include "local/LocalDir.h"

#include <dirent.h>
#include <sys/stat.h>

namespace {
constexpr int64_t kFileTimeUnixEpoch = 11644473600LL; // seconds from 1601 to 1970
}

uint64_t UnixTimeToFileTime(int64_t seconds, uint32_t nanoseconds) {
    return static_cast<uint64_t>(seconds + kFileTimeUnixEpoch) * 10000000ULL + nanoseconds / 100;
}

int64_t FileTimeToUnixTime(uint64_t fileTime) {
    return static_cast<int64_t>(fileTime / 10000000ULL) - kFileTimeUnixEpoch;
}

std::vector<TListRecord> ListLocalEntries(const std::string& dir) {
    std::vector<TListRecord> result;
    DIR* d = opendir(dir.c_str());
    if (!d) return result;
    const std::string prefix = EnsureTrailing(dir, '/');
    const bool atTop = dir == "/";
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == ".") continue;
        if (name == ".." && atTop) continue;
        TListRecord rec;
        rec.Name = name;
        struct stat st {};
        const std::string path = prefix + name;
        rec.IsLink = e->d_type == DT_LNK ||
                     (e->d_type == DT_UNKNOWN && lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
        // Follow links so a link to a folder lists and opens as a folder; a dangling link
        // still lists, as itself.
        if (stat(path.c_str(), &st) != 0 && lstat(path.c_str(), &st) != 0) {
            result.push_back(rec);
            continue;
        }
        if (S_ISDIR(st.st_mode)) rec.Attributes |= FILE_ATTRIBUTE_DIRECTORY_BIT;
        rec.Size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
        rec.LastWriteTime = UnixTimeToFileTime(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
        result.push_back(std::move(rec));
    }
    closedir(d);
    return result;
}

bool IsDotsName(const std::string& name) {
    for (char c : name)
        if (c != '.') return false;
    return true;
}

std::string EnsureTrailing(const std::string& text, char c) {
    if (!text.empty() && text.back() == c) return text;
    return text + c;
}

std::string ParentLocalDir(const std::string& dir) {
    const auto slash = dir.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return dir.substr(0, slash);
}
