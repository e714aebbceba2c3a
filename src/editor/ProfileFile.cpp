// Connection profile reader and writer. See ProfileFile.h.
#include "editor/ProfileFile.h"

#include "VarnelloError.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool ReadWholeFile(const std::string& path, std::string& out) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) return false;
    out.clear();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) out.append(buf, n);
    return !std::ferror(f.get());
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Replaces the file at path by bytes through a temporary file in the same folder, so that a failure
// at any step leaves the old file as it was. A symbolic link is written through to its target.
bool ReplaceFile(const std::string& path, std::string_view bytes) {
    if (path.empty()) return false;
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved)) target = resolved;
    }
    mode_t mode = S_IRUSR | S_IWUSR; // a new profile holds a password in plain text
    if (::stat(target.c_str(), &st) == 0) {
        // Not a regular file, or one nobody may write (the read-only attribute's counterpart, which
        // holds even for root): leave it alone.
        if (!S_ISREG(st.st_mode) || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
        mode = st.st_mode & 07777;
    }
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty()) return false;
    std::string temp = folder + (folder.back() == '/' ? "." : "/.") + name + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

// The fields in file order.
template <class TProfileRef> auto Fields(TProfileRef& p) {
    return std::array{&p.Host, &p.User, &p.Password, &p.ServerDir, &p.LocalDir};
}

} // namespace

std::vector<std::string> SplitProfileLines(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    return lines;
}

void ParseProfile(std::string_view text, TProfile& profile) {
    std::vector<std::string> lines = SplitProfileLines(text);
    auto fields = Fields(profile);
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i >= lines.size()) throw EVarnelloError("List index out of bounds (" + std::to_string(i) + ")");
        *fields[i] = std::move(lines[i]);
    }
}

std::string FormatProfile(const TProfile& profile) {
    std::string out;
    for (const std::string* field : Fields(profile)) out += *field + "\r\n";
    return out;
}

void LoadProfile(const std::string& path, TProfile& profile) {
    std::string text;
    if (!ReadWholeFile(path, text)) throw EVarnelloError("Cannot open file " + path);
    ParseProfile(text, profile);
}

void SaveProfile(const std::string& path, const TProfile& profile) {
    for (const std::string* field : Fields(profile))
        if (field->find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
            throw EVarnelloError("Cannot create file " + path + ": a field holds a line break");
    if (!ReplaceFile(path, FormatProfile(profile))) throw EVarnelloError("Cannot create file " + path);
}
