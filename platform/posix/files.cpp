#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ov::platform {
namespace {

// Opens path read-only just to test the lock another of our processes may
// hold on it. Returns true when nobody holds it (or it does not exist).
bool NotHeldByOthers(const std::string& path, int* lock_fd) {
    *lock_fd = -1;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        errno = e;
        return false;
    }
    *lock_fd = fd;
    return true;
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

}  // namespace

ExclusiveFile::ExclusiveFile(ExclusiveFile&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = kInvalid;
}

ExclusiveFile& ExclusiveFile::operator=(ExclusiveFile&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = other.m_handle;
        other.m_handle = kInvalid;
    }
    return *this;
}

ExclusiveFile::~ExclusiveFile() { Close(); }

bool ExclusiveFile::Open(const std::string& path, Mode mode, Share /*share*/) {
    Close();
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::ReadExisting: flags |= O_RDONLY; break;
        case Mode::CreateTruncate: flags |= O_RDWR | O_CREAT; break;
        case Mode::OpenAlways: flags |= O_RDWR | O_CREAT; break;
    }
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return false;
    }
    // The lock comes before any truncation, so a file held by another of our
    // processes is never emptied under it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int e = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        errno = e;
        return false;
    }
    if (mode == Mode::CreateTruncate && ::ftruncate(fd, 0) != 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return false;
    }
    m_handle = fd;
    return true;
}

int64_t ExclusiveFile::Size() {
    struct stat st {};
    if (m_handle == kInvalid) {
        errno = EBADF;
        return -1;
    }
    if (::fstat(static_cast<int>(m_handle), &st) != 0) return -1;
    return st.st_size;
}

bool ExclusiveFile::ReadAll(std::vector<uint8_t>* out, uint64_t limit) {
    int64_t size = Size();
    if (size < 0) return false;
    if (static_cast<uint64_t>(size) > limit) {
        errno = EFBIG;
        return false;
    }
    out->assign(static_cast<size_t>(size), 0);
    size_t done = 0;
    while (done < out->size()) {
        ssize_t n = ::pread(static_cast<int>(m_handle), out->data() + done, out->size() - done,
                            static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;  // shrank under us (not one of ours)
        done += static_cast<size_t>(n);
    }
    out->resize(done);
    return true;
}

bool ExclusiveFile::Write(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::write(static_cast<int>(m_handle), p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ExclusiveFile::SeekEnd() { return ::lseek(static_cast<int>(m_handle), 0, SEEK_END) >= 0; }

bool ExclusiveFile::Truncate() {
    return ::ftruncate(static_cast<int>(m_handle), 0) == 0 &&
           ::lseek(static_cast<int>(m_handle), 0, SEEK_SET) == 0;
}

bool ExclusiveFile::Sync() { return ::fsync(static_cast<int>(m_handle)) == 0; }

bool ExclusiveFile::Close() {
    if (m_handle == kInvalid) return true;
    int fd = static_cast<int>(m_handle);
    m_handle = kInvalid;
    return ::close(fd) == 0;  // closing also drops the lock
}

uint32_t LastErrorCode() { return static_cast<uint32_t>(errno); }
void SetLastErrorCode(uint32_t code) { errno = static_cast<int>(code); }

std::string SystemMessage(uint32_t code) {
    if (code == EBUSY) return "The file is in use by another program.";
    char buf[256];
    // GNU strerror_r may return a static string instead of filling buf.
    const char* text = strerror_r(static_cast<int>(code), buf, sizeof buf);
    return text ? text : "";
}

std::string ErrorText(uint32_t code) {
    return "err " + std::to_string(code) + " - " + SystemMessage(code);
}
std::string ErrorText() { return ErrorText(LastErrorCode()); }

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool RenameOver(const std::string& source, const std::string& target) {
    int src_lock = -1, dst_lock = -1;
    if (!NotHeldByOthers(source, &src_lock)) return false;
    if (src_lock < 0) {
        errno = ENOENT;
        return false;
    }
    if (!NotHeldByOthers(target, &dst_lock)) {
        int e = errno;
        ::close(src_lock);
        errno = e;
        return false;
    }
    bool ok = ::rename(source.c_str(), target.c_str()) == 0;
    int e = errno;
    if (dst_lock >= 0) ::close(dst_lock);
    ::close(src_lock);
    if (ok) SyncDirectoryOf(target);
    errno = e;
    return ok;
}

bool WriteFileAtomically(const std::string& target, const void* data, size_t size) {
    const std::string temp = target + ".tmp";
    ExclusiveFile file;
    if (!file.Open(temp, ExclusiveFile::Mode::CreateTruncate)) return false;
    if (!file.Write(data, size) || !file.Sync()) {
        int e = errno;
        file.Close();
        ::unlink(temp.c_str());
        errno = e;
        return false;
    }
    // Rename while still holding the new file's lock, so nobody of ours opens
    // it before it is complete; only the target's holder can stop us.
    int dst_lock = -1;
    if (!NotHeldByOthers(target, &dst_lock)) {
        int e = errno;
        file.Close();
        ::unlink(temp.c_str());
        errno = e;
        return false;
    }
    bool ok = ::rename(temp.c_str(), target.c_str()) == 0;
    int e = errno;
    if (dst_lock >= 0) ::close(dst_lock);
    if (!ok) ::unlink(temp.c_str());
    file.Close();
    if (ok) SyncDirectoryOf(target);
    errno = e;
    return ok;
}

bool CopyFileOver(const std::string& source, const std::string& target, uint64_t limit) {
    std::vector<uint8_t> bytes;
    {
        ExclusiveFile in;
        if (!in.Open(source, ExclusiveFile::Mode::ReadExisting)) return false;
        if (!in.ReadAll(&bytes, limit)) return false;
    }
    return WriteFileAtomically(target, bytes.data(), bytes.size());
}

std::string ProgramDirectory() {
    std::vector<char> buf(4096);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return "";
        if (static_cast<size_t>(n) < buf.size()) {
            std::string path(buf.data(), static_cast<size_t>(n));
            auto slash = path.rfind('/');
            return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        }
        buf.resize(buf.size() * 2);
    }
}

}  // namespace ov::platform
