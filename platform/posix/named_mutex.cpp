#include "platform/named_mutex.h"

#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>

#include "ipc_files.h"

namespace ov::platform {

// Two files per mutex: the name file, on which every holder keeps a shared
// lock (that is what "exists" means), and the lock file, whose exclusive
// flock is the mutex between processes. flock does not exclude threads that
// share one descriptor, so the threads of this process queue on an ordinary
// mutex first.
struct NamedMutex::Impl {
    std::string dir;
    std::string path;
    int name_fd = -1;
    int lock_fd = -1;
    std::recursive_mutex threads;
    std::atomic<std::thread::id> owner{};
    int depth = 0;  // guarded by `threads`
};

NamedMutex::NamedMutex() = default;
NamedMutex::~NamedMutex() {
    Close();
}

bool NamedMutex::IsCreated() const {
    return m_impl != nullptr;
}

bool NamedMutex::Create(const std::string& name, bool* already_existed) {
    Close();
    if (already_existed)
        *already_existed = false;
    auto impl = std::make_unique<Impl>();
    impl->dir = ipc::Directory();
    if (!ipc::ObjectPath(impl->dir, "mutex", name, &impl->path))
        return false;
    ipc::DirectoryGuard guard(impl->dir);
    if (!guard.ok())
        return false;
    impl->name_fd = ipc::OpenObjectFile(impl->path, true);
    if (impl->name_fd < 0)
        return false;
    impl->lock_fd = ipc::OpenObjectFile(impl->path + ".lock", true);
    ipc::Holders holders = ipc::TestHolders(impl->name_fd);
    if (impl->lock_fd < 0 || holders == ipc::Holders::Error || !ipc::HoldShared(impl->name_fd)) {
        int e = errno;
        if (impl->lock_fd >= 0)
            ::close(impl->lock_fd);
        ::close(impl->name_fd);
        errno = e;
        return false;
    }
    if (already_existed)
        *already_existed = holders == ipc::Holders::Some;
    m_impl = std::move(impl);
    return true;
}

void NamedMutex::Close() {
    if (!m_impl)
        return;
    {
        ipc::DirectoryGuard guard(m_impl->dir);
        // The last holder removes the files; under the guard nobody can be
        // between opening them and taking a holder lock.
        if (guard.ok() && ipc::TestHolders(m_impl->name_fd) == ipc::Holders::None) {
            ::unlink(m_impl->path.c_str());
            ::unlink((m_impl->path + ".lock").c_str());
        }
        ::close(m_impl->lock_fd);
        ::close(m_impl->name_fd);
    }
    m_impl.reset();
}

bool NamedMutex::Lock() {
    if (!m_impl)
        return false;
    m_impl->threads.lock();
    if (m_impl->depth == 0) {
        int r;
        do {
            r = ::flock(m_impl->lock_fd, LOCK_EX);
        } while (r != 0 && errno == EINTR);
        if (r != 0) {
            int e = errno;
            m_impl->threads.unlock();
            errno = e;
            return false;
        }
        m_impl->owner = std::this_thread::get_id();
    }
    ++m_impl->depth;
    return true;
}

void NamedMutex::Unlock() {
    if (!m_impl || m_impl->owner.load() != std::this_thread::get_id())
        return;
    if (--m_impl->depth == 0) {
        m_impl->owner = std::thread::id();
        ::flock(m_impl->lock_fd, LOCK_UN);
    }
    m_impl->threads.unlock();
}

}  // namespace ov::platform
