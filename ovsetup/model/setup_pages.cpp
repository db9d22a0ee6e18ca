#include "ovsetup/model/setup_pages.h"

#include <utility>

#include "ovsetup/model/setup_texts.h"
#include "platform/data_file_lock.h"

namespace ov::setup {

Outcome Outcome::FromFile(const FileOpResult& r) {
    Outcome o{r.ok, r.message, {}, r.ok ? Icon::Information : Icon::Exclamation};
    return o;
}

SwitchView IdCheckView(int32_t flg_encrypt) {
    if (flg_encrypt)
        return {text::kDisabled, text::kIdCheckOn, kIconIdCheckOn};
    return {text::kEnabled, text::kIdCheckOff, kIconIdCheckOff};
}

SwitchView GuestView(int32_t guest) {
    if (guest)
        return {text::kDisabled, text::kGuestOn, kIconGuestOn};
    return {text::kEnabled, text::kGuestOff, kIconGuestOff};
}

// ---- accounts

AccountsPage::AccountsPage(std::string path, DataFileAccess access)
    : m_path(AccountFilePath(path)), m_access(access) {}

Outcome AccountsPage::Open() {
    AccountList list;
    AccountLoadResult r = LoadAccounts(&list, m_path, m_access);
    if (r != AccountLoadResult::Ok) {
        m_list.reset();
        return {false, AccountLoadMessage(r), {}, Outcome::Icon::None};
    }
    m_list = std::move(list);
    return Outcome::Done();
}

const AccountList& AccountsPage::List() const {
    static const AccountList kNone;
    return m_list ? *m_list : kNone;
}

std::vector<AccountsPage::Row> AccountsPage::Rows() const {
    std::vector<Row> rows;
    for (const AccountRecord& r : List())
        rows.push_back({r.Name(), text::kHiddenPassword,
                        r.Enabled() ? text::kEnabled : text::kDisabled, r.Description()});
    return rows;
}

AccountEntry AccountsPage::Entry(size_t row) const {
    const AccountRecord& r = List().at(row);
    return {r.Name(), r.Password(), r.Enabled(), r.Description()};
}

bool AccountsPage::CanEditAll(size_t row) const {
    return !IsAdministrator(List(), row);
}

Outcome AccountsPage::Save(AccountList before) {
    platform::DataFileLock lock;
    platform::Result r = lock.Acquire(m_path, m_access.wait_if_held);
    if (r)
        r = SaveAccounts(*m_list, m_path, m_access);
    if (r)
        return Outcome::Done();
    // The file kept what it held: show that again rather than a change
    // that is not stored.
    AccountList stored;
    if (LoadAccounts(&stored, m_path, m_access) == AccountLoadResult::Ok)
        m_list = std::move(stored);
    else
        m_list = std::move(before);
    return {false, text::kSaveFailed, text::kNotice, Outcome::Icon::Exclamation};
}

Outcome AccountsPage::CheckAdd(const AccountEntry& entry) const {
    if (!m_list)
        return {false, {}, {}, Outcome::Icon::None};
    return Outcome::From(CheckNewAccount(*m_list, entry));
}

Outcome AccountsPage::Add(const AccountEntry& entry) {
    Outcome check = CheckAdd(entry);
    if (!check.ok)
        return check;
    AccountList before = *m_list;
    m_list->push_back(
        AccountRecord::Make(entry.name, entry.password, entry.enabled, entry.description));
    return Save(std::move(before));
}

Outcome AccountsPage::CheckEdit(size_t row, const AccountEntry& entry) const {
    if (!m_list)
        return {false, {}, {}, Outcome::Icon::None};
    if (row >= m_list->size())
        return {false, text::kSelectRowToEdit, text::kNotice};
    return Outcome::From(CheckEditedAccount(*m_list, row, entry));
}

Outcome AccountsPage::Edit(size_t row, const AccountEntry& entry) {
    Outcome check = CheckEdit(row, entry);
    if (!check.ok)
        return check;
    AccountList before = *m_list;
    ApplyEdit(&*m_list, row, entry);
    return Save(std::move(before));
}

Outcome AccountsPage::CheckDelete(const std::vector<size_t>& selected) const {
    if (!m_list)
        return {false, {}, {}, Outcome::Icon::None};
    return Outcome::From(
        setup::CheckDelete(*m_list, RowsToDelete(selected, m_list->size(), kMaxDeletedAccounts)));
}

Outcome AccountsPage::Delete(const std::vector<size_t>& selected) {
    Outcome check = CheckDelete(selected);
    if (!check.ok)
        return check;
    AccountList before = *m_list;
    EraseRows(&*m_list, RowsToDelete(selected, m_list->size(), kMaxDeletedAccounts));
    return Save(std::move(before));
}

Outcome AccountsPage::Backup(const std::string& chosen) {
    if (!m_list)
        return {false, {}, {}, Outcome::Icon::None};
    return Outcome::FromFile(BackupAccounts(chosen, m_path, m_access));
}

Outcome AccountsPage::Restore(const std::string& chosen) {
    if (!m_list)
        return {false, {}, {}, Outcome::Icon::None};
    platform::DataFileLock lock;
    if (platform::Result r = lock.Acquire(m_path, m_access.wait_if_held); !r)
        return {false, "恢复帐号文件失败!", {}, Outcome::Icon::Exclamation};
    return Outcome::FromFile(RestoreAccounts(&*m_list, chosen, m_path, m_access));
}

// ---- trusted IDs

TrustedIdsPage::TrustedIdsPage(std::string path, DataFileAccess access)
    : m_path(TrustedIdFilePath(path)), m_access(access) {}

void TrustedIdsPage::Open() {
    TrustedIdList list;
    m_loaded = bool(LoadTrustedIdsToChange(&list, m_path, m_access));
    if (m_loaded)
        m_list = std::move(list);
}

bool TrustedIdsPage::Loaded() {
    if (!m_loaded)
        Open();
    return m_loaded;
}

std::vector<TrustedIdsPage::Row> TrustedIdsPage::Rows() const {
    std::vector<Row> rows;
    for (size_t i = 0; i < m_list.size(); ++i)
        rows.push_back({std::to_string(i + 1), text::kHiddenId, "", m_list[i].Description()});
    return rows;
}

Outcome TrustedIdsPage::Save(TrustedIdList before) {
    platform::DataFileLock lock;
    platform::Result r = lock.Acquire(m_path, m_access.wait_if_held);
    if (r)
        r = SaveTrustedIds(m_list, m_path, m_access);
    if (r)
        return Outcome::Done();
    TrustedIdList stored;
    if (LoadTrustedIdsToChange(&stored, m_path, m_access))
        m_list = std::move(stored);
    else
        m_list = std::move(before);
    return {false, text::kSaveFailed, text::kNotice, Outcome::Icon::Exclamation};
}

Outcome TrustedIdsPage::Add(const std::string& id_file, const std::string& description,
                            std::optional<size_t>* select) {
    select->reset();
    IdFileResult id = ReadIdFile(id_file);
    if (!id.ok)
        return {false, id.message, {}, Outcome::Icon::None};
    if (!Loaded())
        return {false, text::kSaveFailed, text::kNotice, Outcome::Icon::Exclamation};
    TrustedIdList before = m_list;
    ImportResult imported = ImportTrustedId(&m_list, id.value, description);
    *select = imported.index;
    if (!imported.added)
        return Outcome::Done();
    return Save(std::move(before));
}

Outcome TrustedIdsPage::Edit(size_t row, const std::string& id_file,
                             const std::string& description) {
    if (row >= m_list.size())
        return {false, text::kSelectRowToEdit, text::kNotice};
    if (!id_file.empty()) {
        IdFileResult id = ReadIdFile(id_file);
        if (!id.ok)
            return {false, id.message, {}, Outcome::Icon::None};
    }
    if (!Loaded())
        return {false, text::kSaveFailed, text::kNotice, Outcome::Icon::Exclamation};
    TrustedIdList before = m_list;
    m_list[row].SetDescription(description);
    return Save(std::move(before));
}

Outcome TrustedIdsPage::Delete(const std::vector<size_t>& selected) {
    std::vector<size_t> rows = RowsToDelete(selected, m_list.size(), kMaxDeletedIds);
    if (rows.empty())
        return {false, text::kSelectRowToDelete, text::kNotice};
    if (!Loaded())
        return {false, text::kSaveFailed, text::kNotice, Outcome::Icon::Exclamation};
    TrustedIdList before = m_list;
    EraseRows(&m_list, rows);
    return Save(std::move(before));
}

Outcome TrustedIdsPage::Backup(const std::string& chosen) {
    return Outcome::FromFile(BackupTrustedIds(chosen, m_path, m_access));
}

Outcome TrustedIdsPage::Restore(const std::string& chosen) {
    platform::DataFileLock lock;
    if (platform::Result r = lock.Acquire(m_path, m_access.wait_if_held); !r)
        return {false, "恢复配置文件失败!", {}, Outcome::Icon::Exclamation};
    Outcome r = Outcome::FromFile(RestoreTrustedIds(&m_list, chosen, m_path, m_access));
    if (r.ok)
        m_loaded = true;
    return r;
}

}  // namespace ov::setup
