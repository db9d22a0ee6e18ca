// The web agent dialog without its window: what OK, Test and the key change
// accept and what they store in the console's WebAgentSettings.
#pragma once

#include <cstddef>
#include <string>

#include "console/model/gateway_settings.h"

namespace ov::agentset {

using console::WebAgentSettings;

// What fits into the record's fields with their terminators.
inline constexpr size_t kMaxUrl = sizeof(WebAgentSettings::MasterURL) - 1;
inline constexpr size_t kMaxKey = sizeof(WebAgentSettings::szKey) - 1;
// The key dialog's edits take 19 characters.
inline constexpr size_t kMaxKeyInput = 19;

// Without leading and trailing blanks, tabs and line breaks.
std::string Trim(const std::string& text);

struct Refusal {
    std::string message;  // empty: accepted
    explicit operator bool() const { return !message.empty(); }
};

// OK: the trimmed URLs must differ (two empty ones are equal). Accepted,
// the URLs and the flag are stored in *record; refused, nothing is.
// A URL longer than its field is refused too rather than cut into another
// address.
Refusal AcceptSettings(const std::string& master, const std::string& backup, bool direct,
                       WebAgentSettings* record);
// Test: at least one URL; *urls gets both trimmed.
Refusal CheckTest(const std::string& master, const std::string& backup, std::string urls[2]);
// The key dialog's OK before its question.
Refusal CheckNewKey(const std::string& key, const std::string& again);
// A confirmed key goes into the record at once.
void StoreKey(const std::string& key, WebAgentSettings* record);

// The record's texts, bounded to their fields.
std::string Text(const char* field, size_t size);
template <size_t N>
std::string Text(const char (&field)[N]) {
    return Text(field, N);
}

}  // namespace ov::agentset
