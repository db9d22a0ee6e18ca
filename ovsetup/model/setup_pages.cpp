#include "ovsetup/model/setup_pages.h"

#include <algorithm>
#include <cstring>
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

namespace {

// The caption and icon of a save that failed or of a lock not taken.
Outcome SaveFailed() {
    return {false, text::kSaveFailed, text::kNotice, Outcome::Icon::Exclamation};
}

// Whether a change left every record as it was: then nothing is written.
template <class List>
bool Unchanged(const List& a, const List& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
               return std::memcmp(x.bytes, y.bytes, sizeof x.bytes) == 0;
           });
}

}  // namespace

template <class Fn>
Outcome AccountsPage::ReadModifyWrite(Fn change) {
    platform::DataFileLock lock;
    if (platform::Result r = lock.Acquire(m_path, m_access.wait_if_held); !r)
        return SaveFailed();
    AccountList stored;
    AccountLoadResult loaded = LoadAccounts(&stored, m_path, m_access);
    if (loaded != AccountLoadResult::Ok)
        return {false, AccountLoadMessage(loaded), {}, Outcome::Icon::Exclamation};
    AccountList changed = stored;
    Outcome done = change(&changed);
    if (done.ok && !Unchanged(changed, stored) && !SaveAccounts(changed, m_path, m_access))
        done = SaveFailed();
    // The rows show the file: changed when it was saved, as read otherwise.
    m_list = done.ok ? std::move(changed) : std::move(stored);
    return done;
}

std::optional<size_t> AccountsPage::Find(size_t row, const AccountList& stored) const {
    if (!m_list || row >= m_list->size())
        return std::nullopt;
    const std::string name = (*m_list)[row].Name();
    size_t same_before = 0;
    for (size_t i = 0; i < row; ++i)
        if ((*m_list)[i].Name() == name)
            ++same_before;
    for (size_t i = 0; i < stored.size(); ++i)
        if (stored[i].Name() == name && same_before-- == 0)
            return i;
    return std::nullopt;
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
    return ReadModifyWrite([&](AccountList* list) {
        if (Refusal no = CheckNewAccount(*list, entry))
            return Outcome::From(no);
        list->push_back(
            AccountRecord::Make(entry.name, entry.password, entry.enabled, entry.description));
        return Outcome::Done();
    });
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
    const AccountEntry shown = Entry(row);
    return ReadModifyWrite([&](AccountList* list) {
        std::optional<size_t> at = Find(row, *list);
        if (!at)
            return Outcome{false, text::kAccountGone, text::kNotice, Outcome::Icon::Exclamation};
        // What another program changed meanwhile stays unless the dialog
        // changed the same text.
        const AccountRecord& now = (*list)[*at];
        AccountEntry merged{now.Name(), now.Password(), now.Enabled(), now.Description()};
        if (entry.name != shown.name)
            merged.name = entry.name;
        if (entry.password != shown.password)
            merged.password = entry.password;
        if (entry.enabled != shown.enabled)
            merged.enabled = entry.enabled;
        if (entry.description != shown.description)
            merged.description = entry.description;
        if (Refusal no = CheckEditedAccount(*list, *at, merged))
            return Outcome::From(no);
        ApplyEdit(list, *at, merged);
        return Outcome::Done();
    });
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
    const std::vector<size_t> rows = RowsToDelete(selected, m_list->size(), kMaxDeletedAccounts);
    return ReadModifyWrite([&](AccountList* list) {
        // Accounts another program deleted already stay deleted.
        std::vector<size_t> found;
        for (size_t row : rows)
            if (std::optional<size_t> at = Find(row, *list))
                found.push_back(*at);
        found = RowsToDelete(found, list->size(), kMaxDeletedAccounts);
        if (found.empty())
            return Outcome::Done();
        if (Refusal no = setup::CheckDelete(*list, found))
            return Outcome::From(no);
        EraseRows(list, found);
        return Outcome::Done();
    });
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
    if (LoadTrustedIdsToChange(&list, m_path, m_access))
        m_list = std::move(list);
}

std::vector<TrustedIdsPage::Row> TrustedIdsPage::Rows() const {
    std::vector<Row> rows;
    for (size_t i = 0; i < m_list.size(); ++i)
        rows.push_back({std::to_string(i + 1), text::kHiddenId, "", m_list[i].Description()});
    return rows;
}

template <class Fn>
Outcome TrustedIdsPage::ReadModifyWrite(Fn change) {
    platform::DataFileLock lock;
    if (platform::Result r = lock.Acquire(m_path, m_access.wait_if_held); !r)
        return SaveFailed();
    TrustedIdList stored;
    if (!LoadTrustedIdsToChange(&stored, m_path, m_access))
        return SaveFailed();
    TrustedIdList changed = stored;
    Outcome done = change(&changed);
    if (done.ok && !Unchanged(changed, stored) && !SaveTrustedIds(changed, m_path, m_access))
        done = SaveFailed();
    m_list = done.ok ? std::move(changed) : std::move(stored);
    return done;
}

// The shown row's ID in stored: the same whole ID, counted among equal IDs
// as in the shown list.
std::optional<size_t> TrustedIdsPage::Find(size_t row, const TrustedIdList& stored) const {
    if (row >= m_list.size())
        return std::nullopt;
    const TrustedIdRecord& shown = m_list[row];
    auto same = [&](const TrustedIdRecord& r) {
        return std::equal(r.bytes, r.bytes + TrustedIdRecord::kIdSize, shown.bytes);
    };
    size_t same_before = 0;
    for (size_t i = 0; i < row; ++i)
        if (same(m_list[i]))
            ++same_before;
    for (size_t i = 0; i < stored.size(); ++i)
        if (same(stored[i]) && same_before-- == 0)
            return i;
    return std::nullopt;
}

Outcome TrustedIdsPage::Add(const std::string& id_file, const std::string& description,
                            std::optional<size_t>* select) {
    select->reset();
    if (Refusal no = CheckLength(text::kDescriptionField, description, kMaxStoredIdDescription))
        return Outcome::From(no);
    IdFileResult id = ReadIdFile(id_file);
    if (!id.ok)
        return {false, id.message, {}, Outcome::Icon::None};
    return ReadModifyWrite([&](TrustedIdList* list) {
        ImportResult imported = ImportTrustedId(list, id.value, description);
        *select = imported.index;
        return Outcome::Done();
    });
}

Outcome TrustedIdsPage::Edit(size_t row, const std::string& id_file,
                             const std::string& description) {
    if (row >= m_list.size())
        return {false, text::kSelectRowToEdit, text::kNotice};
    if (Refusal no = CheckLength(text::kDescriptionField, description, kMaxStoredIdDescription))
        return Outcome::From(no);
    if (!id_file.empty()) {
        IdFileResult id = ReadIdFile(id_file);
        if (!id.ok)
            return {false, id.message, {}, Outcome::Icon::None};
    }
    return ReadModifyWrite([&](TrustedIdList* list) {
        std::optional<size_t> at = Find(row, *list);
        if (!at)
            return Outcome{false, text::kIdGone, text::kNotice, Outcome::Icon::Exclamation};
        (*list)[*at].SetDescription(description);
        return Outcome::Done();
    });
}

Outcome TrustedIdsPage::Delete(const std::vector<size_t>& selected) {
    std::vector<size_t> rows = RowsToDelete(selected, m_list.size(), kMaxDeletedIds);
    if (rows.empty())
        return {false, text::kSelectRowToDelete, text::kNotice};
    return ReadModifyWrite([&](TrustedIdList* list) {
        std::vector<size_t> found;
        for (size_t row : rows)
            if (std::optional<size_t> at = Find(row, *list))
                found.push_back(*at);
        EraseRows(list, RowsToDelete(found, list->size(), kMaxDeletedIds));
        return Outcome::Done();
    });
}

Outcome TrustedIdsPage::Backup(const std::string& chosen) {
    return Outcome::FromFile(BackupTrustedIds(chosen, m_path, m_access));
}

Outcome TrustedIdsPage::Restore(const std::string& chosen) {
    platform::DataFileLock lock;
    if (platform::Result r = lock.Acquire(m_path, m_access.wait_if_held); !r)
        return {false, "恢复配置文件失败!", {}, Outcome::Icon::Exclamation};
    return Outcome::FromFile(RestoreTrustedIds(&m_list, chosen, m_path, m_access));
}

}  // namespace ov::setup
