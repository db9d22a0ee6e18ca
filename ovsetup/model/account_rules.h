// The rules of account changes, shared by the accounts page and ovadmin:
// what may be added, edited and deleted, and with which message a change is
// refused. They work on the list only; saving is the caller's.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "common/account_file.h"
#include "common/trusted_id_file.h"

namespace ov::setup {

// A refusal: the message and the caption of its box (empty: the default).
struct Refusal {
    std::string message;
    std::string caption;
    explicit operator bool() const { return !message.empty(); }
};

struct AccountEntry {
    AccountEntry() = default;
    AccountEntry(std::string name_, std::string password_, bool enabled_ = true,
                 std::string description_ = {})
        : name(std::move(name_)),
          password(std::move(password_)),
          enabled(enabled_),
          description(std::move(description_)) {}

    std::string name;
    std::string password;
    bool enabled = true;
    std::string description;
};

// A typed text longer than max_bytes of GBK (a Chinese character takes 2
// bytes) is refused with a message that names the limit in bytes: the edit
// controls count characters, the fields hold bytes, and a text is stored as
// typed or not at all. what names the field ("用户名").
Refusal CheckLength(const char* what, const std::string& text, size_t max_bytes);
// The longest trusted-ID description the record keeps whole.
inline constexpr size_t kMaxStoredIdDescription = TrustedIdRecord::kDescriptionSize - 1;

// The administrator's account stays: the one named "Administrator", and
// the first record whatever its name, since the console checks the
// administrator's password against the first record.
bool IsAdministrator(const AccountList& list, size_t row);

// Add: an empty name, or one that an account has already (byte-wise, so
// case-sensitive), is refused. An empty password is accepted. Every text
// must fit its limit (kMaxAccountName, ...).
Refusal CheckNewAccount(const AccountList& list, const AccountEntry& entry);
// Edit of row: an empty name is refused, and so is a changed name that
// another account has. A changed text must fit its limit (one the record
// holds already stays as it is). REQUIRES: row < list.size()
Refusal CheckEditedAccount(const AccountList& list, size_t row, const AccountEntry& entry);
// Writes the entry into the record in place. The administrator's record
// keeps its name, state and description: only its password changes.
void ApplyEdit(AccountList* list, size_t row, const AccountEntry& entry);
// The two entries must match and fit kMaxAccountPassword.
Refusal CheckNewPassword(const std::string& first, const std::string& again);

// Which rows a delete removes: the selected ones inside the list, in
// ascending order, at most max_rows of them (the accounts page takes the
// first and 100 more, the trusted-ID page 100).
inline constexpr size_t kMaxDeletedAccounts = 101;
inline constexpr size_t kMaxDeletedIds = 100;
std::vector<size_t> RowsToDelete(std::vector<size_t> selected, size_t list_size, size_t max_rows);
// Nothing selected, or the administrator among the rows: refused.
Refusal CheckDelete(const AccountList& list, const std::vector<size_t>& rows);
// Removes the rows (ascending, as RowsToDelete gives them) from the highest
// down, so that the lower ones stay where they were.
template <class List>
void EraseRows(List* list, const std::vector<size_t>& rows) {
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        if (*it < list->size())
            list->erase(list->begin() + long(*it));
}

}  // namespace ov::setup
