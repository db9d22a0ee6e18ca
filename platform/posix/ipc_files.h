// Linux stand-ins for named kernel objects: one file per object in a
// directory on tmpfs. Every holder of an object keeps a shared flock on its
// file, so "does somebody hold it" is "can an exclusive lock be had", and the
// kernel answers it correctly even after a holder was killed. Creating,
// attaching and removing take one exclusive lock on the directory, which
// makes the test-then-take step atomic and lets the last holder delete the
// file without racing a newcomer.
#pragma once

#include <string>

namespace ov::platform::ipc {

// $OVG_IPC_DIR when set (tests and parallel test runs keep apart with it),
// else /dev/shm/ov-ipc (/tmp/ov-ipc where there is no /dev/shm). Created on
// first use.
std::string Directory();

// The file of object `name` of `kind` ("mutex", "shm"); false when the name
// is empty or too long.
bool ObjectPath(const std::string& dir, const char* kind, const std::string& name,
                std::string* path);

// Holds the directory lock for one scope.
class DirectoryGuard {
  public:
    explicit DirectoryGuard(const std::string& dir);
    DirectoryGuard(const DirectoryGuard&) = delete;
    DirectoryGuard& operator=(const DirectoryGuard&) = delete;
    ~DirectoryGuard();
    bool ok() const { return m_fd >= 0; }

  private:
    int m_fd = -1;
};

enum class Holders { None, Some, Error };
// REQUIRES: the directory guard is held and fd holds no lock yet. On None
// the caller's fd keeps an exclusive lock, to be turned into its shared
// holder lock (or closed).
Holders TestHolders(int fd);
// Turns fd's lock into (or takes) a shared holder lock. REQUIRES: the guard.
bool HoldShared(int fd);
// Opens path for reading and writing, or reading only where permissions
// allow no more; -1 on failure.
int OpenObjectFile(const std::string& path, bool create);

}  // namespace ov::platform::ipc
