// Choosing the one address through which a controlled computer is reached:
// the first announced address that answers ARP (any address for our own
// computer), then publishing its entry.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "gateway/net/controlled_computer_list.h"

namespace ov::gateway {

// Asks one address (network order) for its MAC; true when it answered with
// a usable one. Null when the identity library could not be used.
using ArpProbe = std::function<bool(uint32_t address_network_order)>;

using LogLineFn = std::function<void(const std::string&)>;

// Settles one announcement, a copy taken from the list: probes while the
// list is not held, so logins and relays never wait for ARP, and publishes
// the entry only if the list still holds this very announcement for the name
// (otherwise its newer version has a conversion of its own coming) and
// `cancelled` is not set. With a generation (see ControlledComputerList) the
// announcement must still be of that generation, checked also before each
// probe: a name pushed out of the table or changed meanwhile costs no more
// probes and publishes nothing. 0 when an entry was handed to the list, -1
// otherwise.
int ConvertAnnouncement(ControlledComputerList& list, const ComputerAnnouncement& a,
                        const ArpProbe& probe, const LogLineFn& log_line,
                        const std::atomic<bool>* cancelled = nullptr, uint32_t generation = 0);

// The same for the announcement at index; flag 0 does nothing.
int OnExistData(ControlledComputerList& list, int index, int flag, const ArpProbe& probe,
                const LogLineFn& log_line);

// The conversions waiting and under way. Each unreachable address costs the
// probe about a second, so a flood of made-up names must neither queue
// without end nor hold up a real computer: at most one conversion waits per
// name (a newer announcement replaces it), conversions of names that left
// the table are dropped, a few probes run side by side on threads of their
// own, and one more probe thread takes only names that announced themselves
// again while they waited, which a real computer does and the names of a
// flood mostly do not.
class ConversionQueue {
  public:
    ConversionQueue(std::shared_ptr<ControlledComputerList> list, ArpProbe probe,
                    LogLineFn log_line, int probes_at_once = 4);
    ConversionQueue(const ConversionQueue&) = delete;
    ConversionQueue& operator=(const ConversionQueue&) = delete;
    ~ConversionQueue() { Stop(); }

    // Queues the announcement of that generation, if the list still holds
    // it. hurry: only if its name waits already, move it to the front.
    void Request(uint32_t generation, bool hurry = false);
    // Drops what waits; probes under way finish on their own threads, which
    // keep what they use alive, and publish nothing. Never waits for them.
    void Stop();
    // Conversions waiting (not those under way).
    size_t Waiting() const;

  private:
    struct Shared;
    static void Work(Shared& s, bool hurried_only);
    static void StartThread(const std::shared_ptr<Shared>& s, bool hurried_only);
    static void DropStale(Shared& s);
    std::shared_ptr<Shared> m_shared;
};

}  // namespace ov::gateway
