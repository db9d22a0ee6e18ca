// What every OV_G process knows about the others: whether one of them runs
// the gateway as a service, and which process runs the gateway at all, so
// that "-end" from a second process can ask it to stop.
//
// Windows: a data section of the program image that every process running
// that image shares. Linux: a small shared memory block that lasts while any
// process has it attached (the same life as the shared section), with the
// gateway's process identified by its pid and start time, so a record left
// by a killed gateway never points at an unrelated process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace asio {
class io_context;
}

namespace ov::platform {

class SharedControlBlock {
  public:
    // The block of this process, attached on first use.
    static SharedControlBlock& Instance();

    // Every object, in every process of the program, sees the same values.
    SharedControlBlock();
    SharedControlBlock(const SharedControlBlock&) = delete;
    SharedControlBlock& operator=(const SharedControlBlock&) = delete;
    ~SharedControlBlock();

    // False when the block could not be attached (Linux only); every value
    // then reads as 0 and writes are dropped.
    bool IsAttached() const { return m_words != nullptr; }

    // Set while a process runs the gateway under the Service Control Manager.
    bool ServiceRunning() const;
    void SetServiceRunning(bool running);

    // Records the calling process as the running gateway, with the id of its
    // network thread (0 takes the calling thread's id).
    void RecordGateway(uint32_t network_thread_id);
    // Forgets the running gateway (from any process).
    void ClearGateway();
    // The running gateway's network thread id, nonzero exactly while one is
    // recorded (on Linux also only while the recorded process lives).
    uint32_t NetworkThreadId() const;
    // Its process id; 0 when none is recorded.
    uint32_t GatewayProcessId() const;

    // Asks the recorded gateway to stop (its StopListener fires). False when
    // none is recorded or the request cannot be delivered.
    bool SendStopRequest() const;

  private:
    uint32_t Load(int word) const;
    void Store(int word, uint32_t value);

    struct Impl;
    std::unique_ptr<Impl> m_impl;
    uint32_t* m_words = nullptr;
};

// The calling thread's system-wide id.
uint32_t CurrentThreadId();

// Runs on_stop on the io_context's thread each time another process asks
// this one to stop (SharedControlBlock::SendStopRequest; on Linux also
// SIGTERM and SIGINT from anyone, e.g. systemd or Ctrl-C).
// REQUIRES: constructed, started and destroyed on the io_context's thread,
// or while the context does not run.
class StopListener {
  public:
    StopListener(asio::io_context& io, std::function<void()> on_stop);
    StopListener(const StopListener&) = delete;
    StopListener& operator=(const StopListener&) = delete;
    ~StopListener();

    // Starts listening; false when that is impossible (last error set).
    // Start before RecordGateway, so that no request finds nobody listening.
    bool Start();

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace ov::platform
