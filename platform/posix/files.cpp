#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ov::platform {
namespace {

// A failure with errno set to code, for the callers that still read errno.
Error Fail(int code) {
    errno = code;
    return Error::FromCode(static_cast<uint32_t>(code));
}

// The error of the last call, with fd closed (keeping that error).
Error CloseAfterFailure(int fd) {
    Error e = Error::Last();
    ::close(fd);
    errno = static_cast<int>(e.code);
    return e;
}

// Locks fd as our exclusive opens do; EBUSY when another opener holds it.
Result LockExclusive(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return {};
    return Fail(errno == EWOULDBLOCK ? EBUSY : errno);
}

// Opens path read-only just to test the lock another of our processes may
// hold on it. Succeeds when nobody holds it (or it does not exist); *lock_fd
// then holds the lock, or -1 for a missing file.
Result NotHeldByOthers(const std::string& path, int* lock_fd) {
    *lock_fd = -1;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? Result() : Result(Error::Last());
    if (Result r = LockExclusive(fd); !r) {
        ::close(fd);
        return r;
    }
    *lock_fd = fd;
    return {};
}

void SyncDirectoryOf(const std::string& path) {
    auto slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Gives the new file fd the mode and owner of target, so that a replaced
// uinfo.dat stays as private as it was. Only root may hand a file to
// another owner: otherwise the group is kept where we belong to it, and the
// new file is ours.
Result TakeAccessOf(int fd, const std::string& target, NewFile created) {
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return Error::Last();
        if (created != NewFile::Default &&
            ::fchmod(fd, created == NewFile::OwnerOnly ? 0600 : 0640) != 0)
            return Error::Last();
        return {};
    }
    [[maybe_unused]] bool owner_kept = ::fchown(fd, st.st_uid, st.st_gid) == 0 ||
                                       ::fchown(fd, static_cast<uid_t>(-1), st.st_gid) == 0;
    if (::fchmod(fd, st.st_mode & 07777) != 0)
        return Error::Last();
    return {};
}

}  // namespace

Result ExclusiveFile::Open(const std::string& path, Mode mode, Share /*share*/, NewFile created) {
    Close();
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::ReadExisting:
            flags |= O_RDONLY;
            break;
        case Mode::CreateTruncate:
            flags |= O_RDWR | O_CREAT;
            break;
        case Mode::OpenAlways:
            flags |= O_RDWR | O_CREAT;
            break;
    }
    const mode_t new_mode = created == NewFile::OwnerOnly       ? 0600
                            : created == NewFile::OwnerAndGroup ? 0640
                                                                : 0644;
    // A service runs with a umask of 0077; its logs are still meant for the
    // group that its data directory lets in, so a file this open makes gets
    // its mode exactly. One that exists keeps what it has.
    int fd = -1;
    bool made = false;
    if (mode != Mode::ReadExisting && created != NewFile::Default) {
        fd = ::open(path.c_str(), flags | O_EXCL, new_mode);
        made = fd >= 0;
        if (fd < 0 && errno != EEXIST)
            return Error::Last();
    }
    if (fd < 0)
        fd = ::open(path.c_str(), flags, new_mode);
    if (fd < 0)
        return Error::Last();
    if (made && ::fchmod(fd, new_mode) != 0)
        return CloseAfterFailure(fd);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return Fail(EISDIR);
    }
    // The lock comes before any truncation, so a file held by another of our
    // processes is never emptied under it.
    if (Result r = LockExclusive(fd); !r) {
        ::close(fd);
        errno = static_cast<int>(r.error().code);
        return r;
    }
    if (mode == Mode::CreateTruncate && ::ftruncate(fd, 0) != 0)
        return CloseAfterFailure(fd);
    m_handle = fd;
    return {};
}

int64_t ExclusiveFile::Size() {
    struct stat st {};
    if (m_handle == kInvalid) {
        errno = EBADF;
        return -1;
    }
    if (::fstat(static_cast<int>(m_handle), &st) != 0)
        return -1;
    return st.st_size;
}

Result ExclusiveFile::ReadAll(std::vector<uint8_t>* out, uint64_t limit) {
    int64_t size = Size();
    if (size < 0)
        return Error::Last();
    if (static_cast<uint64_t>(size) > limit)
        return Fail(EFBIG);
    out->assign(static_cast<size_t>(size), 0);
    size_t done = 0;
    while (done < out->size()) {
        ssize_t n = ::pread(static_cast<int>(m_handle), out->data() + done, out->size() - done,
                            static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Error::Last();
        }
        if (n == 0)
            break;  // shrank under us (not one of ours)
        done += static_cast<size_t>(n);
    }
    out->resize(done);
    return {};
}

Result ExclusiveFile::Write(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::write(static_cast<int>(m_handle), p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Error::Last();
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return {};
}

Result ExclusiveFile::SeekEnd() {
    if (::lseek(static_cast<int>(m_handle), 0, SEEK_END) < 0)
        return Error::Last();
    return {};
}

Result ExclusiveFile::Truncate() {
    if (::ftruncate(static_cast<int>(m_handle), 0) != 0 ||
        ::lseek(static_cast<int>(m_handle), 0, SEEK_SET) != 0)
        return Error::Last();
    return {};
}

Result ExclusiveFile::Sync() {
    if (::fsync(static_cast<int>(m_handle)) != 0)
        return Error::Last();
    return {};
}

Result ExclusiveFile::Close() {
    if (m_handle == kInvalid)
        return {};
    int fd = static_cast<int>(m_handle);
    m_handle = kInvalid;
    if (::close(fd) != 0)
        return Error::Last();  // closing also drops the lock
    return {};
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

Result RemoveFile(const std::string& path) {
    if (::unlink(path.c_str()) != 0)
        return Error::Last();
    return {};
}

Result RenameOver(const std::string& source, const std::string& target) {
    int src_lock = -1, dst_lock = -1;
    if (Result r = NotHeldByOthers(source, &src_lock); !r)
        return r;
    if (src_lock < 0)
        return Fail(ENOENT);
    if (Result r = NotHeldByOthers(target, &dst_lock); !r) {
        ::close(src_lock);
        return r;
    }
    Result result;
    if (::rename(source.c_str(), target.c_str()) != 0)
        result = Error::Last();
    if (dst_lock >= 0)
        ::close(dst_lock);
    ::close(src_lock);
    if (result)
        SyncDirectoryOf(target);
    return result;
}

Result WriteFileAtomically(const std::string& target, const void* data, size_t size,
                           NewFile created) {
    const std::string temp = target + ".tmp";
    ExclusiveFile file;
    if (Result r = file.Open(temp, ExclusiveFile::Mode::CreateTruncate); !r)
        return r;
    const int fd = static_cast<int>(file.native_handle());
    // Access first, so the new bytes are never readable by more people than
    // the old ones were.
    Result result = TakeAccessOf(fd, target, created);
    if (result)
        result = file.Write(data, size);
    if (result)
        result = file.Sync();
    // Rename while still holding the new file's lock, so nobody of ours opens
    // it before it is complete; only the target's holder can stop us.
    int dst_lock = -1;
    if (result)
        result = NotHeldByOthers(target, &dst_lock);
    if (result && ::rename(temp.c_str(), target.c_str()) != 0)
        result = Error::Last();
    if (dst_lock >= 0)
        ::close(dst_lock);
    if (!result)
        ::unlink(temp.c_str());
    file.Close();
    if (result)
        SyncDirectoryOf(target);
    else
        errno = static_cast<int>(result.error().code);  // for callers that read errno
    return result;
}

std::string ProgramDirectory() {
    std::vector<char> buf(4096);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0)
            return "";
        if (static_cast<size_t>(n) < buf.size()) {
            std::string path(buf.data(), static_cast<size_t>(n));
            auto slash = path.rfind('/');
            return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        }
        buf.resize(buf.size() * 2);
    }
}

std::string DataDirectory() {
    const char* env = std::getenv("OVG_DATA_DIR");
    // A path longer than any directory can be is taken for a mistake.
    if (!env || !*env || std::strlen(env) >= 4096)
        return ProgramDirectory();
    std::string dir = env;
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

}  // namespace ov::platform
