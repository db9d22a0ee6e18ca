#include "gateway/access_log.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <variant>

#include "gateway/burst_window.h"
#include "gateway/gateway_log.h"
#include "platform/files.h"

namespace ov::gateway {
namespace {

class FileAccessLog final : public AccessLog {
  public:
    FileAccessLog(const std::string& dir, Limits limits)
        : m_path(dir + kAccessLogName), m_backup(dir + kAccessLogBackupName), m_limits(limits) {}
    ~FileAccessLog() override { Stop(); }

    void Begin() {
        try {
            m_writer = std::thread([this] { Run(); });
        } catch (const std::system_error& e) {
            LogLine(std::string("cannot start the writer of the access record: ") + e.what() +
                    "; accesses go unrecorded");
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
    }

    void Login(const LoginAccess& record) override { Push(record); }
    void Relay(const RelayAccess& record) override { Push(record); }

    void Stop() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        m_stop_wake.notify_one();
        std::lock_guard<std::mutex> lock(m_join_mutex);
        if (m_writer.joinable())
            m_writer.join();
    }

  private:
    using Record = std::variant<LoginAccess, RelayAccess>;

    void Push(Record record) {
        bool first = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                return;
            if (m_queue.size() >= m_limits.max_pending) {
                ++m_lost;
                return;
            }
            first = m_queue.empty();
            m_queue.push_back(std::move(record));
        }
        // Only the first record wakes the writer: the others join its batch.
        if (first)
            m_wake.notify_one();
    }

    void Run() {
        // At once, so a record that cannot be kept is reported at the start.
        Open();
        std::unique_lock<std::mutex> lock(m_mutex);
        BurstWindow pace;
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            std::deque<Record> batch;
            batch.swap(m_queue);
            const uint64_t lost = std::exchange(m_lost, 0);
            // Nothing is queued once the stop is seen: this batch is the last.
            const bool last = m_stopping;
            lock.unlock();
            Write(batch, lost);
            if (last) {
                m_file.Close();
                return;
            }
            lock.lock();
            // Busy: the rest of the window's records go to disk together at
            // its end, rather than a wake-up and a write per relay.
            if (!pace.Take(BurstWindow::Clock::now()))
                m_stop_wake.wait_until(lock, pace.WindowEnd(), [this] { return m_stopping; });
        }
    }

    void Write(const std::deque<Record>& batch, uint64_t lost) {
        if (!m_file.IsOpen() && !Open())
            return;
        std::string text;
        bool move_failed = false;  // tried again with the next batch only
        for (const Record& r : batch) {
            text += std::visit([](const auto& record) { return AccessLine(record); }, r);
            if (!move_failed && m_size + text.size() >= m_limits.max_size) {
                Flush(&text);
                move_failed = !Rotate();
                if (!m_file.IsOpen())
                    return;
            }
        }
        if (lost)
            text += LostAccessLine(std::time(nullptr), lost);
        Flush(&text);
    }

    bool Open() {
        platform::Result r =
            m_file.Open(m_path, platform::ExclusiveFile::Mode::OpenAlways,
                        platform::ExclusiveFile::Share::Read, platform::NewFile::OwnerAndGroup);
        int64_t size = -1;
        if (r)
            r = m_file.SeekEnd();
        if (r && (size = m_file.Size()) < 0)
            r = platform::Error::Last();
        if (!r) {
            m_file.Close();
            // Once until it opens again; records meanwhile are dropped.
            if (!std::exchange(m_open_failed, true))
                LogLine("cannot open the access record " + m_path + ": " + r.error().Text() +
                        "; accesses go unrecorded");
            return false;
        }
        if (std::exchange(m_open_failed, false))
            LogLine("the access record " + m_path + " is written again");
        m_size = uint64_t(size);
        return true;
    }

    void Flush(std::string* text) {
        if (text->empty() || !m_file.IsOpen())
            return;
        platform::Result r = m_file.Write(text->data(), text->size());
        if (r) {
            m_size += text->size();
            m_write_failed = false;
        } else if (!m_write_failed) {
            m_write_failed = true;
            LogLine("cannot write the access record " + m_path + ": " + r.error().Text());
        }
        text->clear();
    }

    // A file held by another program (a reader of the old .bak on Windows)
    // is not moved: the record grows on and is moved after a later batch.
    bool Rotate() {
        m_file.Close();
        platform::Result r = platform::RenameOver(m_path, m_backup);
        if (!r && !m_rotate_failed)
            LogLine("cannot move the access record to " + m_backup + ": " + r.error().Text());
        m_rotate_failed = !r;
        Open();
        return bool(r);
    }

    const std::string m_path, m_backup;
    const Limits m_limits;

    std::mutex m_mutex;  // guards the queue, the loss count and the stop
    std::condition_variable m_wake;
    std::condition_variable m_stop_wake;  // ends the pause of a busy writer
    std::deque<Record> m_queue;
    uint64_t m_lost = 0;
    bool m_stopping = false;

    std::mutex m_join_mutex;
    std::thread m_writer;

    // The writer's own.
    platform::ExclusiveFile m_file;
    uint64_t m_size = 0;
    bool m_open_failed = false, m_write_failed = false, m_rotate_failed = false;
};

}  // namespace

std::shared_ptr<AccessLog> AccessLog::Start(const std::string& dir) {
    return Start(dir, Limits{});
}

std::shared_ptr<AccessLog> AccessLog::Start(const std::string& dir, Limits limits) {
    auto log = std::make_shared<FileAccessLog>(dir, limits);
    log->Begin();
    return log;
}

}  // namespace ov::gateway
