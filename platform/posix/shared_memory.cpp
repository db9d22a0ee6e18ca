#include "platform/shared_memory.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "ipc_files.h"

namespace ov::platform {

// The block is a file on tmpfs, mapped. A creator keeps a shared flock on
// it for as long as it holds the block; a reader only maps it.
struct SharedMemory::Impl {
    std::string dir;
    std::string path;
    int fd = -1;
    bool holder = false;
};

namespace {

bool LargeEnough(int fd, size_t size) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    if (static_cast<uint64_t>(st.st_size) < size) {
        errno = EINVAL;
        return false;
    }
    return true;
}

}  // namespace

SharedMemory::SharedMemory() = default;
SharedMemory::~SharedMemory() {
    Close();
}

bool SharedMemory::Create(const std::string& name, size_t size, bool* already_existed) {
    Close();
    if (already_existed)
        *already_existed = false;
    if (size == 0) {
        errno = EINVAL;
        return false;
    }
    auto impl = std::make_unique<Impl>();
    impl->dir = ipc::Directory();
    if (!ipc::ObjectPath(impl->dir, "shm", name, &impl->path))
        return false;
    void* view = MAP_FAILED;
    bool existed = false;
    {
        ipc::DirectoryGuard guard(impl->dir);
        if (!guard.ok())
            return false;
        impl->fd = ipc::OpenObjectFile(impl->path, true);
        if (impl->fd < 0)
            return false;
        auto fail = [&] {
            int e = errno;
            ::close(impl->fd);
            errno = e;
            return false;
        };
        switch (ipc::TestHolders(impl->fd)) {
            case ipc::Holders::None:
                // New, or left by a creator that was killed: either way its
                // bytes mean nothing any more.
                if (::ftruncate(impl->fd, 0) != 0 ||
                    ::ftruncate(impl->fd, static_cast<off_t>(size)) != 0)
                    return fail();
                break;
            case ipc::Holders::Some:
                existed = true;
                if (!LargeEnough(impl->fd, size))
                    return fail();
                break;
            case ipc::Holders::Error:
                return fail();
        }
        if (!ipc::HoldShared(impl->fd))
            return fail();
        impl->holder = true;
        view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, impl->fd, 0);
        if (view == MAP_FAILED) {
            int e = errno;
            if (!existed)
                ::unlink(impl->path.c_str());
            ::close(impl->fd);
            errno = e;
            return false;
        }
    }
    if (already_existed)
        *already_existed = existed;
    m_impl = std::move(impl);
    m_data = static_cast<uint8_t*>(view);
    m_size = size;
    return true;
}

bool SharedMemory::Open(const std::string& name, size_t size, Access access) {
    Close();
    if (size == 0) {
        errno = EINVAL;
        return false;
    }
    auto impl = std::make_unique<Impl>();
    impl->dir = ipc::Directory();
    if (!ipc::ObjectPath(impl->dir, "shm", name, &impl->path))
        return false;
    ipc::DirectoryGuard guard(impl->dir);
    if (!guard.ok())
        return false;
    int fd = ipc::OpenObjectFile(impl->path, false);
    if (fd < 0)
        return false;
    auto fail = [&](int e) {
        ::close(fd);
        errno = e;
        return false;
    };
    switch (ipc::TestHolders(fd)) {
        case ipc::Holders::None:
            // Left by a creator that was killed: clear it away.
            ::unlink(impl->path.c_str());
            return fail(ENOENT);
        case ipc::Holders::Some:
            break;
        case ipc::Holders::Error:
            return fail(errno);
    }
    if (!LargeEnough(fd, size))
        return fail(errno);
    int prot = access == Access::ReadWrite ? PROT_READ | PROT_WRITE : PROT_READ;
    void* view = ::mmap(nullptr, size, prot, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED)
        return fail(errno);
    impl->fd = fd;
    m_impl = std::move(impl);
    m_data = static_cast<uint8_t*>(view);
    m_size = size;
    return true;
}

void SharedMemory::Close() {
    if (!m_impl)
        return;
    ::munmap(m_data, m_size);
    m_data = nullptr;
    m_size = 0;
    if (m_impl->holder) {
        ipc::DirectoryGuard guard(m_impl->dir);
        if (guard.ok() && ipc::TestHolders(m_impl->fd) == ipc::Holders::None)
            ::unlink(m_impl->path.c_str());
    }
    ::close(m_impl->fd);
    m_impl.reset();
}

}  // namespace ov::platform
