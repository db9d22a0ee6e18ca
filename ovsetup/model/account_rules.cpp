#include "ovsetup/model/account_rules.h"

#include <algorithm>

#include "ovsetup/model/setup_texts.h"

namespace ov::setup {

bool IsAdministrator(const AccountList& list, size_t row) {
    return row < list.size() && (row == 0 || list[row].Name() == kAdministratorName);
}

Refusal CheckNewAccount(const AccountList& list, const AccountEntry& entry) {
    if (entry.name.empty())
        return {text::kEnterName, {}};
    if (FindAccount(list, entry.name) >= 0)
        return {text::kNameExists, {}};
    return {};
}

Refusal CheckEditedAccount(const AccountList& list, size_t row, const AccountEntry& entry) {
    if (entry.name.empty())
        return {text::kEnterNameOrPassword, {}};
    if (entry.name != list[row].Name() && FindAccount(list, entry.name) >= 0)
        return {text::kNameExists, {}};
    return {};
}

void ApplyEdit(AccountList* list, size_t row, const AccountEntry& entry) {
    AccountRecord& r = (*list)[row];
    r.SetPassword(entry.password);
    if (IsAdministrator(*list, row))
        return;
    r.SetName(entry.name);
    r.SetEnabled(entry.enabled);
    r.SetDescription(entry.description);
}

Refusal CheckNewPassword(const std::string& first, const std::string& again) {
    if (first != again)
        return {text::kPasswordsDiffer, {}};
    return {};
}

std::vector<size_t> RowsToDelete(std::vector<size_t> selected, size_t list_size, size_t max_rows) {
    std::sort(selected.begin(), selected.end());
    selected.erase(std::unique(selected.begin(), selected.end()), selected.end());
    selected.erase(std::remove_if(selected.begin(), selected.end(),
                                  [&](size_t row) { return row >= list_size; }),
                   selected.end());
    if (selected.size() > max_rows)
        selected.resize(max_rows);
    return selected;
}

Refusal CheckDelete(const AccountList& list, const std::vector<size_t>& rows) {
    if (rows.empty())
        return {text::kSelectRowToDelete, text::kNotice};
    for (size_t row : rows)
        if (IsAdministrator(list, row))
            return {text::kAdminNotDeleted, {}};
    return {};
}

}  // namespace ov::setup
