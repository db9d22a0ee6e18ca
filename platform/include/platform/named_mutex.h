// A mutex with a system-wide name, shared by every process that creates it:
// the single-instance rule of our programs and the lock of the published
// computer list. Whoever dies holding it releases it (the kernel does that on
// Windows; on Linux the lock is a file lock, which the kernel drops with the
// process), so a crashed program never blocks the next one.
#pragma once

#include <memory>
#include <string>

namespace ov::platform {

class NamedMutex {
  public:
    NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;
    ~NamedMutex();

    // Creates the mutex, or opens it when it exists; not owned afterwards.
    // *already_existed (may be null) tells whether another holder of the
    // name (this process or another) had it open; a holder that died does
    // not count. False when the mutex cannot be made (last error set).
    bool Create(const std::string& name, bool* already_existed = nullptr);
    bool IsCreated() const;
    // Gives up this holder's share of the name (and the lock, if held).
    void Close();

    // Waits without limit until this thread owns the mutex, across threads
    // and processes alike. A thread that owns it may lock it again and then
    // unlocks it as often. Also true when the previous owner died holding it.
    // False when the mutex was not created or the wait failed.
    bool Lock();
    // REQUIRES: the calling thread owns the mutex; otherwise nothing happens.
    void Unlock();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Holds a NamedMutex for one scope.
class NamedMutexLock {
  public:
    explicit NamedMutexLock(NamedMutex& mutex) : m_mutex(mutex), m_locked(mutex.Lock()) {}
    NamedMutexLock(const NamedMutexLock&) = delete;
    NamedMutexLock& operator=(const NamedMutexLock&) = delete;
    ~NamedMutexLock() {
        if (m_locked)
            m_mutex.Unlock();
    }
    bool locked() const { return m_locked; }

  private:
    NamedMutex& m_mutex;
    bool m_locked;
};

}  // namespace ov::platform
