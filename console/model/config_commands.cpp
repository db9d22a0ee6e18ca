#include "console/model/config_commands.h"

#include <cstring>

#include "common/account_file.h"
#include "common/bytes.h"
#include "console/model/console_texts.h"

namespace ov::console {
namespace {

// After a library dialog: write when the piece changed, and only a write
// that worked asks for the restart (a failed one keeps the values in memory
// for the next write).
bool WriteIfChanged(bool changed, GatewaySettings* settings, const ConfigPaths& paths,
                    ConsoleUi* ui) {
    if (!changed)
        return false;
    WriteResult r = WriteSettings(*settings, paths.settings);
    if (!r.ok) {
        ui->ShowMessage(r.message, text::kAppTitle, MessageIcon::None);
        return false;
    }
    ui->ShowMessage(text::kRestartService, text::kRestartCaption, MessageIcon::None);
    return true;
}

}  // namespace

bool WebConfiguration(GatewaySettings* settings, const ConfigPaths& paths, ConsoleUi* ui) {
    const WebAgentSettings before = settings->web;
    switch (ui->CallShowCfg("ovagentset.dll", &settings->web)) {
        case ConsoleUi::CallResult::NotLoaded:
            ui->ShowMessage(text::kLoadAgentSetFailed, text::kAppTitle, MessageIcon::Stop);
            return false;
        case ConsoleUi::CallResult::NoEntry:
            ui->ShowMessage(text::kGetAgentSetFailed, text::kAppTitle, MessageIcon::Stop);
            return false;
        case ConsoleUi::CallResult::Called:
            break;
    }
    return WriteIfChanged(std::memcmp(&before, &settings->web, sizeof before) != 0, settings, paths,
                          ui);
}

PasswordCheck CheckAdministratorPassword(const std::string& typed, const std::string& accounts) {
    AccountList list;
    switch (LoadAccounts(&list, accounts)) {
        case AccountLoadResult::Ok:
            break;
        case AccountLoadResult::Corrupt:
            return {false, text::kAccountsCorrupt, false};
        case AccountLoadResult::ReadFailed:
            return {false, text::kAccountsUnreadable, false};
        default:
            return {false, text::kAccountsUnknownError, false};
    }
    // A file without any account has no administrator whose password
    // could match.
    if (list.empty() || typed.substr(0, kMaxPasswordInput) != list.front().Password())
        return {false, text::kWrongPassword, true};
    return {true, {}, false};
}

bool AdvancedConfiguration(GatewaySettings* settings, const ConfigPaths& paths, ConsoleUi* ui) {
    std::string password;
    if (!ui->AskPassword(&password))
        return false;
    PasswordCheck check = CheckAdministratorPassword(password, paths.accounts);
    if (!check.ok) {
        ui->ShowMessage(check.message, text::kAppTitle,
                        check.stop_icon ? MessageIcon::Stop : MessageIcon::None);
        return false;
    }
    const ServerSettings before = settings->server;
    const int32_t guest_before = settings->Guest();
    switch (ui->CallShowCfg("ovsetup.dll", &settings->server)) {
        case ConsoleUi::CallResult::NotLoaded:
            ui->ShowMessage(text::kLoadSetupFailed, text::kAppTitle, MessageIcon::Stop);
            return false;
        case ConsoleUi::CallResult::NoEntry:
            ui->ShowMessage(text::kGetSetupFailed, text::kAppTitle, MessageIcon::Stop);
            return false;
        case ConsoleUi::CallResult::Called:
            break;
    }
    // The pointers are ours: a library that replaced them must not make us
    // write through, or keep, what they point at now.
    settings->server.bGuest = before.bGuest;
    settings->server.reserved = nullptr;
    const bool changed = std::memcmp(&before, &settings->server, sizeof before) != 0 ||
                         guest_before != settings->Guest();
    return WriteIfChanged(changed, settings, paths, ui);
}

bool SystemSettings(GatewaySettings* settings, const ConfigPaths& paths, ConsoleUi* ui) {
    ReadSettings(settings, paths.settings);
    std::string alias = settings->alias;
    if (!ui->AskAlias(ui->HostName(), &alias))
        return false;
    // Cut at a whole character: half of one would be stored, shown back as
    // another character and count as a change on the next OK. What would
    // be written is compared with what the file holds.
    alias = std::string(CutGbk(alias, kMaxAliasInput));
    if (alias == settings->alias)
        return false;
    const std::string previous = settings->alias;
    settings->alias = alias;
    WriteResult r = WriteSettings(*settings, paths.settings);
    if (!r.ok) {
        settings->alias = previous;
        ui->ShowMessage(r.message, text::kAppTitle, MessageIcon::None);
        ui->ShowMessage(text::kAliasWriteFailed, text::kAppTitle, MessageIcon::None);
        return false;
    }
    ui->ShowMessage(alias.empty() ? text::kAliasCleared : text::kAliasSet, text::kAppTitle,
                    MessageIcon::None);
    return true;
}

}  // namespace ov::console
