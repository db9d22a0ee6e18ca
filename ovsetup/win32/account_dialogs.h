// The small dialogs of the setup pages. Each checks its entries with the
// page's rules on OK and stays open, with the rule's message, when they are
// refused.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "ovsetup/model/setup_pages.h"

namespace ov::setup {

// A page command's outcome in a message box owned by owner; nothing when
// it has no message.
void Say(HWND owner, const Outcome& o);

// Add (row empty) or edit an account; true when closed with OK, *entry
// then holds what the page should store.
bool AskAccount(HINSTANCE module, HWND owner, const AccountsPage& page, std::optional<size_t> row,
                AccountEntry* entry);

// Add (row empty) or edit a trusted ID. The dialog's OK runs the page's
// command; true when it closed with OK, *done then holds its outcome (a
// failed save, say) and *select the row to select after an add.
bool AskTrustedId(HINSTANCE module, HWND owner, TrustedIdsPage* page, std::optional<size_t> row,
                  Outcome* done, std::optional<size_t>* select);

// A new port for the ports page: in range and free to bind.
bool AskPort(HINSTANCE module, HWND owner, uint32_t* port);

}  // namespace ov::setup
