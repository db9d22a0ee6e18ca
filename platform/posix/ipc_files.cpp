#include "ipc_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ov::platform::ipc {
namespace {

constexpr size_t kMaxDirLength = 1024;
constexpr size_t kMaxNameLength = 200;

bool IsDirectory(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int FlockRetrying(int fd, int op) {
    int r;
    do {
        r = ::flock(fd, op);
    } while (r != 0 && errno == EINTR);
    return r;
}

// An object is there to be read by whoever may enter its directory: the
// shared default lets everybody in, a service's runtime directory (0750)
// its group. So a new object's file is readable by the group and by others
// as far as the directory lets them search it, whatever the creator's umask
// (a service runs with 0077); only its creator writes it.
mode_t NewObjectMode(const std::string& path) {
    struct stat st {};
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    if (::stat(dir.c_str(), &st) != 0)
        return 0600;
    return 0600 | ((st.st_mode & (S_IXGRP | S_IXOTH)) << 2);
}

}  // namespace

std::string Directory() {
    const char* env = std::getenv("OVG_IPC_DIR");
    std::string dir;
    bool shared_default = false;
    if (env && *env && std::strlen(env) < kMaxDirLength) {
        dir = env;
    } else {
        dir = IsDirectory("/dev/shm") ? "/dev/shm/ov-ipc" : "/tmp/ov-ipc";
        shared_default = true;
    }
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (::mkdir(dir.c_str(), 0777) == 0 && shared_default) {
        // Sticky and open to all, like /tmp: programs of any user meet here,
        // and nobody removes another user's objects.
        ::chmod(dir.c_str(), 01777);
    }
    return dir;
}

bool ObjectPath(const std::string& dir, const char* kind, const std::string& name,
                std::string* path) {
    if (name.empty() || name.size() > kMaxNameLength) {
        errno = EINVAL;
        return false;
    }
    std::string file = std::string(kind) + ".";
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        file += (u < 0x20 || c == '/' || c == '\\') ? '_' : c;
    }
    *path = dir + "/" + file;
    return true;
}

DirectoryGuard::DirectoryGuard(const std::string& dir) {
    m_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd >= 0 && FlockRetrying(m_fd, LOCK_EX) != 0) {
        int e = errno;
        ::close(m_fd);
        m_fd = -1;
        errno = e;
    }
}

DirectoryGuard::~DirectoryGuard() {
    if (m_fd >= 0)
        ::close(m_fd);  // drops the lock
}

Holders TestHolders(int fd) {
    if (FlockRetrying(fd, LOCK_EX | LOCK_NB) == 0)
        return Holders::None;
    return errno == EWOULDBLOCK ? Holders::Some : Holders::Error;
}

bool HoldShared(int fd) {
    return FlockRetrying(fd, LOCK_SH) == 0;
}

int OpenObjectFile(const std::string& path, bool create) {
    if (create) {
        int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            ::fchmod(fd, NewObjectMode(path));
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == EACCES)
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd;
}

}  // namespace ov::platform::ipc
