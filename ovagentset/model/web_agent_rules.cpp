#include "ovagentset/model/web_agent_rules.h"

#include <algorithm>
#include <cstring>

#include "ovagentset/model/agentset_texts.h"

namespace ov::agentset {
namespace {

constexpr char kBlanks[] = " \t\r\n\v\f";

void Store(char* field, size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

Refusal CheckLength(const std::string& master, const std::string& backup) {
    if (master.size() > kMaxUrl || backup.size() > kMaxUrl)
        return {text::kUrlTooLong};
    return {};
}

}  // namespace

std::string Trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(kBlanks);
    if (begin == std::string::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(kBlanks) - begin + 1);
}

std::string Text(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

Refusal AcceptSettings(const std::string& master_text, const std::string& backup_text, bool direct,
                       WebAgentSettings* record) {
    const std::string master = Trim(master_text), backup = Trim(backup_text);
    if (master == backup)
        return {text::kEqualUrls};
    if (Refusal r = CheckLength(master, backup))
        return r;
    Store(record->MasterURL, sizeof record->MasterURL, master);
    Store(record->SlaveURL, sizeof record->SlaveURL, backup);
    record->binternet = direct ? 1 : 0;
    return {};
}

Refusal CheckTest(const std::string& master, const std::string& backup, std::string urls[2]) {
    urls[0] = Trim(master);
    urls[1] = Trim(backup);
    if (urls[0].empty() && urls[1].empty())
        return {text::kEnterUrl};
    return CheckLength(urls[0], urls[1]);
}

Refusal CheckNewKey(const std::string& key, const std::string& again) {
    if (key != again)
        return {text::kKeysDiffer};
    return {};
}

void StoreKey(const std::string& key, WebAgentSettings* record) {
    Store(record->szKey, sizeof record->szKey, key.substr(0, kMaxKey));
}

}  // namespace ov::agentset
