#include "ovsetup/model/account_rules.h"

#include <algorithm>

#include "ovsetup/model/setup_texts.h"

namespace ov::setup {

Refusal CheckLength(const char* what, const std::string& text, size_t max_bytes) {
    if (text.size() <= max_bytes)
        return {};
    return {std::string(what) + "最多" + std::to_string(max_bytes) +
                "个字节（一个汉字占2个字节），输入的有" + std::to_string(text.size()) + "个字节！",
            {}};
}

namespace {

// The texts of an entry against their limits; with a stored record, only
// the texts that differ from it.
Refusal CheckLengths(const AccountEntry& entry, const AccountRecord* stored) {
    const struct {
        const char* what;
        const std::string& text;
        std::string was;
        size_t max;
    } texts[] = {
        {text::kNameField, entry.name, stored ? stored->Name() : "", kMaxAccountName},
        {text::kPasswordField, entry.password, stored ? stored->Password() : "",
         kMaxAccountPassword},
        {text::kDescriptionField, entry.description, stored ? stored->Description() : "",
         kMaxAccountDescription},
    };
    for (const auto& t : texts) {
        if (stored && t.text == t.was)
            continue;
        if (Refusal no = CheckLength(t.what, t.text, t.max))
            return no;
    }
    return {};
}

}  // namespace

bool IsAdministrator(const AccountList& list, size_t row) {
    return row < list.size() && (row == 0 || list[row].Name() == kAdministratorName);
}

Refusal CheckNewAccount(const AccountList& list, const AccountEntry& entry) {
    if (entry.name.empty())
        return {text::kEnterName, {}};
    if (FindAccount(list, entry.name) >= 0)
        return {text::kNameExists, {}};
    return CheckLengths(entry, nullptr);
}

Refusal CheckEditedAccount(const AccountList& list, size_t row, const AccountEntry& entry) {
    if (entry.name.empty())
        return {text::kEnterNameOrPassword, {}};
    if (entry.name != list[row].Name() && FindAccount(list, entry.name) >= 0)
        return {text::kNameExists, {}};
    return CheckLengths(entry, &list[row]);
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
    return CheckLength(text::kPasswordField, first, kMaxAccountPassword);
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
