#include "gateway/gateway_config.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "common/bytes.h"
#include "common/file_ops.h"

namespace ov::gateway {
namespace {

constexpr char kIniMissing[] =
    "OV_G.ini不存在或损坏！\n请在ORVIK网关控制台下重新配置。\n\nORVIK网关不能启动。";
constexpr char kIniCaption[] = "ORVIK Gateway警告";
constexpr char kAccountCaption[] = "ORVIK Gateway 警告";

// How long a login waits while an administration program holds uinfo.dat
// or TrustID.dat for its read-modify-write (a few milliseconds, usually).
constexpr std::chrono::milliseconds kWaitForWriter{1000};

}  // namespace

GatewayConfig::GatewayConfig(ConfigEnvironment env) : m_env(std::move(env)) {}

bool GatewayConfig::LoadConfiguration() {
    if (!ReadIniSettings())
        return false;
    ReloadTrustedIds();
    if (!ReloadAccounts())
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = true;
    return true;
}

void GatewayConfig::Box(const char* text, const char* caption) {
    bool running;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        running = m_running;
    }
    if (running && m_env.notice_box)
        m_env.notice_box(text, caption);
    else if (m_env.error_box)
        m_env.error_box(text, caption);
}

bool GatewayConfig::ReadIniSettings() {
    bool ok;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ok = ReadIniLocked();
    }
    if (!ok)
        Box(kIniMissing, kIniCaption);
    return ok;
}

bool GatewayConfig::ReadIniLocked() {
    m_reader.SetPath(m_env.program_dir + "OV_G.ini");
    if (!m_reader.ReadFile())
        return false;
    std::memset(m_master.url, 0, sizeof m_master.url);
    std::memset(m_backup.url, 0, sizeof m_backup.url);
    std::memset(m_master.password, 0, sizeof m_master.password);
    std::memset(m_backup.password, 0, sizeof m_backup.password);
    std::memset(m_master.keyText, 0, sizeof m_master.keyText);
    std::memset(m_backup.keyText, 0, sizeof m_backup.keyText);
    IniFile& r = m_reader;
    SetFieldText(m_master.url, r.GetValue("CWebinfo", "MasterURL"), FieldRest::Zero);
    SetFieldText(m_master.keyText, r.GetValue("CWebinfo", "szKey"), FieldRest::Zero);
    SetFieldText(m_master.password, r.GetValue("S_CFG", "PKey"), FieldRest::Zero);
    SetFieldText(m_backup.keyText, r.GetValue("CWebinfo", "szKey"), FieldRest::Zero);
    SetFieldText(m_backup.password, r.GetValue("S_CFG", "PKey"), FieldRest::Zero);
    SetFieldText(m_backup.url, r.GetValue("CWebinfo", "SlaveURL"), FieldRest::Zero);
    m_own.direct = r.GetValueI("CWebinfo", "binternet");
    m_id_check = r.GetValueI("S_CFG", "flg_encrypt");
    m_guest = r.GetValueI("S_CFG", "bGuest");
    m_proxy_needs_login = r.GetValueI("S_CFG", "ProxyNeedsLogin");
    const std::string per_address = r.GetValue("S_CFG", "MaxSlotsPerAddress");
    m_max_slots_per_address =
        per_address.empty() ? kDefaultSlotsPerAddress : std::max(0, std::atoi(per_address.c_str()));
    m_max_relays = ParseMaxRelays(r.GetValue("S_CFG", "MaxRelays"));
    m_own.cmdPort = uint32_t(r.GetValueI("S_CFG", "CmdPort"));
    m_proxy_port = r.GetValueI("S_CFG", "ProxyPort");
    m_update_time = r.GetValueI("Base", "UpdateTime");
    m_no_delay = r.GetValueI("Base", "Tcp_NoDelay");
    m_own.computerName[0] = '\0';
    std::string alias = r.GetValue("Base", "Alias");
    if (!alias.empty())
        SetFieldText(m_own.computerName, alias, FieldRest::Zero);
    return true;
}

bool GatewayConfig::ReloadTrustedIds() {
    TrustedIdList list;
    bool loaded = false;
    LoadTrustedIds(&list, m_env.program_dir + kTrustedIdFileName, &loaded,
                   DataFileAccess{kWaitForWriter});
    if (!loaded) {
        // The list held so far stays (empty at start).
        if (m_env.log_line)
            m_env.log_line("读取OV_CID链表失败");
        return true;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_trusted = std::move(list);
    return true;
}

bool GatewayConfig::ReloadAccounts() {
    AccountList list;
    platform::Error why;
    AccountLoadResult r = LoadAccounts(&list, m_env.program_dir + kAccountFileName,
                                       DataFileAccess{kWaitForWriter}, &why);
    if (r == AccountLoadResult::Ok) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_accounts = std::move(list);
        m_accounts_loaded = true;
        return true;
    }
    if (r == AccountLoadResult::ReadFailed && why.Shortage()) {
        bool have_earlier;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            have_earlier = m_accounts_loaded;
        }
        // The file is as good as it was a moment ago; the system is short
        // of handles. Answering from what was read before keeps logins going.
        if (have_earlier) {
            if (m_env.log_line)
                m_env.log_line("读取用户文件失败(" + why.Text() + "), 使用上次读取的帐号");
            return true;
        }
    }
    const char* text = AccountLoadMessage(r);
    Box(text, kAccountCaption);
    if (m_env.log_line)
        m_env.log_line(text);
    return false;
}

bool GatewayConfig::RefreshOwnRecord() {
    // The identity library and the host name may take their time; a report
    // of an earlier tick copies the record meanwhile. So nothing of the
    // record changes until the new one is complete, and it changes under one
    // lock; a failed refresh leaves the last good record as it was.
    uint8_t id[sizeof(PeerInfo::computerId)] = {};
    if (!m_env.computer_id || !m_env.computer_id(id, 85)) {
        if (m_env.log_line)
            m_env.log_line("获取计算机ID错误");
        return false;
    }
    const std::string host = m_env.host_name ? m_env.host_name() : std::string();
    const int32_t now = int32_t(m_env.now ? m_env.now() : std::time(nullptr));
    bool ini_ok;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Reads the settings, the alias into the record's name among them.
        ini_ok = ReadIniLocked();
        PeerInfo fresh = m_own;
        fresh.kind = 1;
        fresh.reportTime = now;
        std::memcpy(fresh.computerId, id, sizeof id);
        if (!ini_ok || fresh.computerName[0] == '\0')
            SetFieldText(fresh.computerName, host, FieldRest::Zero);
        m_own = fresh;
    }
    if (!ini_ok)
        Box(kIniMissing, kIniCaption);
    return true;
}

int GatewayConfig::GetCmdPort() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_own.cmdPort == 0)
        m_own.cmdPort = 811;
    return int(m_own.cmdPort);
}

int GatewayConfig::GetProxyPort() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_proxy_port == 0)
        m_proxy_port = 821;
    return m_proxy_port;
}

int GatewayConfig::GetUpdateTime() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_update_time == 0)
        m_update_time = 2;
    return m_update_time;
}

bool GatewayConfig::NoDelayFor(ProxySide side) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_no_delay == 0 || m_no_delay == int(side);
}

bool GatewayConfig::IdCheck() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_id_check != 0;
}

bool GatewayConfig::GuestAllowed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_guest != 0;
}

bool GatewayConfig::ProxyNeedsLogin() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_proxy_needs_login != 0;
}

int GatewayConfig::MaxSlotsPerAddress() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_max_slots_per_address;
}

int GatewayConfig::MaxRelays() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_max_relays;
}

int GatewayConfig::PeekMaxRelays() const {
    IniFile ini(m_env.program_dir + "OV_G.ini");
    return ini.ReadFile() ? ParseMaxRelays(ini.GetValue("S_CFG", "MaxRelays")) : kDefaultMaxRelays;
}

int GatewayConfig::ParseMaxRelays(const std::string& value) {
    const char* begin = value.c_str();
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(begin, &end, 10);
    // Trailing text is ignored as the other numeric keys ignore it.
    if (end == begin)
        return kDefaultMaxRelays;
    if (n < 1)
        return 1;
    return n > kMaxRelaysLimit || errno == ERANGE ? kMaxRelaysLimit : int(n);
}

PeerInfo GatewayConfig::OwnRecord() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_own;
}

void GatewayConfig::SetWanAddress(uint32_t address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_own.wanAddress = address;
}

WebAgentInfo GatewayConfig::MasterAgent() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_master;
}

WebAgentInfo GatewayConfig::BackupAgent() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_backup;
}

WebAgentInfo GatewayConfig::TrimAgentUrl(WebAgentRole role) {
    std::lock_guard<std::mutex> lock(m_mutex);
    WebAgentInfo& agent = role == WebAgentRole::Master ? m_master : m_backup;
    const size_t length =
        size_t(std::find(agent.url, agent.url + sizeof agent.url, '\0') - agent.url);
    size_t blanks = 0;
    while (blanks < length && std::isspace(static_cast<unsigned char>(agent.url[blanks]))) ++blanks;
    if (blanks > 0 && blanks < length) {
        std::memmove(agent.url, agent.url + blanks, length - blanks);
        std::memset(agent.url + length - blanks, 0, blanks);
    }
    WebAgentInfo trimmed = agent;
    if (blanks == length)
        std::memset(trimmed.url, 0, sizeof trimmed.url);
    return trimmed;
}

AccountList GatewayConfig::Accounts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_accounts;
}

TrustedIdList GatewayConfig::TrustedIds() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_trusted;
}

}  // namespace ov::gateway
