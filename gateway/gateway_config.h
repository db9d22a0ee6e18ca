// Everything the gateway is configured with: the settings of OV_G.ini, the
// trusted IDs, the accounts, and the record it reports about itself. One
// object for the process; the network thread loads and refreshes it, the
// command and proxy threads read it. Every access takes its lock, and
// readers get copies, so a refresh never tears a value under a reader.
#pragma once

#include <ctime>
#include <functional>
#include <mutex>
#include <string>

#include "common/account_file.h"
#include "common/ini_file.h"
#include "common/trusted_id_file.h"
#include "ovhttp/ovhttp.h"

namespace ov::gateway {

// What the configuration needs from the world, replaceable in tests.
struct ConfigEnvironment {
    std::string program_dir;  // with its trailing separator
    // An error box shown as a service notification (text, caption), while
    // the gateway starts: the start waits for it.
    std::function<void(const std::string&, const std::string&)> error_box;
    // The same box once the gateway runs, from a login or a timer tick: it
    // must never hold the network thread that asks for it. Unset: error_box.
    std::function<void(const std::string&, const std::string&)> notice_box;
    // One line "    %s\r\n" at level 0 of the gateway log.
    std::function<void(const std::string&)> log_line;
    // Fills up to limit bytes of the computer id from the identity library;
    // false with the log lines written when it cannot.
    std::function<bool(uint8_t* id, int limit)> computer_id;
    std::function<std::string()> host_name;
    std::function<std::time_t()> now;
};

enum class ProxySide { User = 1, Computer = 2 };

// The two web agents; the values are what a report's result carries.
enum class WebAgentRole { Backup = 0, Master = 1 };

class GatewayConfig {
  public:
    explicit GatewayConfig(ConfigEnvironment env);

    // ReadIniSettings, then the trusted IDs, then the accounts; false at the
    // first failure, after its message box and log line.
    bool LoadConfiguration();
    bool ReadIniSettings();
    // Never fails: an unreadable TrustID.dat keeps the list held so far.
    bool ReloadTrustedIds();
    // False (after its box and line) when uinfo.dat cannot be read. A file
    // that another program holds for a moment is waited for (about a
    // second); a read that fails for want of descriptors or memory keeps
    // the accounts read before, so a login is still answered.
    bool ReloadAccounts();
    // Before each round of reports: kind, time, computer id, name.
    bool RefreshOwnRecord();

    int GetCmdPort();     // 0 -> 811
    int GetProxyPort();   // 0 -> 821
    int GetUpdateTime();  // minutes; 0 -> 2
    bool NoDelayFor(ProxySide side) const;

    bool IdCheck() const;
    bool GuestAllowed() const;
    // [S_CFG] ProxyNeedsLogin: a relay only for an address that logged in.
    // A missing key reads 0 (anyone), as installations before it had.
    bool ProxyNeedsLogin() const;
    // [S_CFG] MaxSlotsPerAddress: command slots one address may hold; 0 =
    // no cap. A missing key gives kDefaultSlotsPerAddress.
    static constexpr int kDefaultSlotsPerAddress = 20;
    int MaxSlotsPerAddress() const;
    // [S_CFG] MaxRelays: the relays that may run at once, 1..kMaxRelaysLimit
    // (a number beyond is taken as the nearest bound); a missing key or one
    // that is not a number gives kDefaultMaxRelays. Read at start: the relay
    // and the live-sessions area are sized once.
    static constexpr int kDefaultMaxRelays = 40, kMaxRelaysLimit = 1000;
    int MaxRelays() const;
    // The key as OV_G.ini holds it now, read without a message box, for
    // what is sized before the configuration is loaded (the live-sessions
    // area): a file that cannot be read gives the default, and the start
    // that follows says why.
    int PeekMaxRelays() const;
    static int ParseMaxRelays(const std::string& value);
    PeerInfo OwnRecord() const;
    void SetWanAddress(uint32_t address);
    WebAgentInfo MasterAgent() const;
    WebAgentInfo BackupAgent() const;
    // The agent with the leading blanks of its URL removed; a URL that is
    // left non-empty is stored back so trimmed.
    WebAgentInfo TrimAgentUrl(WebAgentRole role);
    AccountList Accounts() const;
    TrustedIdList TrustedIds() const;

  private:
    bool ReadIniLocked();
    void Box(const char* text, const char* caption);

    ConfigEnvironment m_env;
    mutable std::mutex m_mutex;
    TrustedIdList m_trusted;
    AccountList m_accounts;
    PeerInfo m_own{};
    WebAgentInfo m_master{};
    WebAgentInfo m_backup{};
    int m_id_check = 0;
    int m_guest = 0;
    int m_proxy_needs_login = 0;
    int m_max_slots_per_address = kDefaultSlotsPerAddress;
    int m_max_relays = kDefaultMaxRelays;
    bool m_running = false;  // LoadConfiguration has succeeded once
    bool m_accounts_loaded = false;
    int m_no_delay = 0;
    int m_update_time = 0;
    int m_proxy_port = 0;
    IniFile m_reader;  // kept: a re-read adds and overwrites, never removes
};

}  // namespace ov::gateway
