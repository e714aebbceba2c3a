// Whole-file read and atomic replace. See FileIO.h.
#include "base/FileIO.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The rename is durable only once the folder's entry is on the disk too; a folder that cannot be
// synced (some file systems refuse) does not make the save a failure, the file is already in place.
void SyncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

} // namespace

TReadResult ReadWholeFile(const std::string& path, std::string& out, std::size_t maxBytes) {
    out.clear();
    struct stat st {};
    if (path.empty()) {
        errno = ENOENT;
        return TReadResult::rrMissing;
    }
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? TReadResult::rrMissing : TReadResult::rrFailed;
    if (!S_ISREG(st.st_mode)) {
        errno = EISDIR;
        return TReadResult::rrFailed;
    }
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
        errno = EFBIG;
        return TReadResult::rrTooLarge;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) return TReadResult::rrFailed;
    out.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    std::size_t n;
    // The size is checked while reading, not only from stat: the file may grow under us.
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
        if (n > maxBytes - out.size()) {
            out.clear();
            out.shrink_to_fit();
            errno = EFBIG;
            return TReadResult::rrTooLarge;
        }
        out.append(buf, n);
    }
    if (std::ferror(f.get())) {
        out.clear();
        return TReadResult::rrFailed;
    }
    return TReadResult::rrOk;
}

bool ReplaceFile(const std::string& path, std::string_view bytes, unsigned newFileMode) {
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved)) target = resolved;
    }
    mode_t mode = static_cast<mode_t>(newFileMode & 07777);
    bool exists = false;
    uid_t uid = 0;
    gid_t gid = 0;
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            errno = EISDIR;
            return false;
        }
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
            errno = EACCES;
            return false;
        }
        mode = st.st_mode & 07777;
        exists = true;
        uid = st.st_uid;
        gid = st.st_gid;
    }
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty()) {
        errno = EISDIR;
        return false;
    }
    std::string temp = folder + (folder.back() == '/' ? "." : "/.") + name + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, mode) == 0;
    // Keeping the owner needs privileges a normal user lacks; the file is then the saver's own.
    if (ok && exists) (void)::fchown(fd, uid, gid);
    ok = ok && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = saved;
        return false;
    }
    SyncFolder(folder);
    return true;
}
