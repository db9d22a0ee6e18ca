// uinfo.dat: the user accounts. 140-byte records, then a big-endian byte
// sum and four random bytes, the whole enciphered with TEA in whole blocks.
// The first record is the administrator. Every open is exclusive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_ops.h"

namespace ov {

inline constexpr char kAccountFileName[] = "uinfo.dat";
inline constexpr char kAccountBackupName[] = "uinfoBak.dat";
inline constexpr char kAdministratorName[] = "Administrator";

// What an operator may enter, in bytes of GBK text (a Chinese character
// takes two).
inline constexpr size_t kMaxAccountName = 16;
inline constexpr size_t kMaxAccountPassword = 16;
inline constexpr size_t kMaxAccountDescription = 60;

struct AccountRecord {
    static constexpr size_t kSize = 140;
    static constexpr size_t kNameOffset = 0, kNameSize = 50;
    static constexpr size_t kPasswordOffset = 50, kPasswordSize = 20;
    static constexpr size_t kEnabledOffset = 72;
    static constexpr size_t kDescriptionOffset = 76, kDescriptionSize = 62;

    uint8_t bytes[kSize] = {};

    // A zero-filled record. Texts are cut to their fields as the setters
    // say; callers that take input from an operator check the entry limits
    // above first.
    static AccountRecord Make(std::string_view name, std::string_view password, bool enabled,
                              std::string_view description);

    std::string Name() const;
    std::string Password() const;
    bool Enabled() const;
    std::string Description() const;
    // Each writes the text and its terminator over the start of its field
    // and leaves the rest of the field as it was. Texts longer than the
    // field are cut to fit.
    void SetName(std::string_view name);
    void SetPassword(std::string_view password);
    void SetEnabled(bool enabled);
    void SetDescription(std::string_view description);
};
static_assert(sizeof(AccountRecord) == AccountRecord::kSize);
// The fields lie where every reader of the file expects them: two filler
// bytes after the password and after the description, never interpreted.
static_assert(AccountRecord::kNameOffset + AccountRecord::kNameSize ==
              AccountRecord::kPasswordOffset);
static_assert(AccountRecord::kPasswordOffset + AccountRecord::kPasswordSize + 2 ==
              AccountRecord::kEnabledOffset);
static_assert(AccountRecord::kEnabledOffset + 4 == AccountRecord::kDescriptionOffset);
static_assert(AccountRecord::kDescriptionOffset + AccountRecord::kDescriptionSize + 2 ==
              AccountRecord::kSize);
static_assert(kMaxAccountName < AccountRecord::kNameSize &&
              kMaxAccountPassword < AccountRecord::kPasswordSize &&
              kMaxAccountDescription < AccountRecord::kDescriptionSize);

// File order; the first record is the administrator. Add by push_back,
// remove by erase: the order of the others is kept.
using AccountList = std::vector<AccountRecord>;

// The position of the account with exactly this name (byte-wise, so
// case-sensitive), or -1.
int FindAccount(const AccountList& list, std::string_view name);

enum class AccountLoadResult : uint8_t { Ok = 0, Corrupt = 5, ReadFailed = 10 };

// Empty path: ProgramDirectory() + "uinfo.dat".
std::string AccountFilePath(const std::string& path = {});

// Replaces *list with the file's records on Ok only. A missing or held file
// is ReadFailed (*why, when given, says why); an empty file, one shorter
// than its 8-byte trailer, and one whose sum does not match are Corrupt.
AccountLoadResult LoadAccounts(AccountList* list, const std::string& path = {},
                               const DataFileAccess& access = {}, platform::Error* why = nullptr);

// The enciphered file image of a list (empty for an empty list); the four
// tail bytes come from rand() seeded with seed.
std::vector<uint8_t> AccountFileImage(const AccountList& list, unsigned seed);

// Writes the list, replacing the old file in one rename (see
// WriteDataFile). Fails when the file cannot be written (held by another
// program, no room, no directory); the old file is then kept.
platform::Result SaveAccounts(const AccountList& list, const std::string& path = {},
                              const DataFileAccess& access = {});

// Copies the live file to chosen (after the ".dat" rule).
FileOpResult BackupAccounts(const std::string& chosen, const std::string& live = {},
                            const DataFileAccess& access = {});
// Reads chosen once; when its bytes load Ok, writes those same bytes over
// the live file (in one rename) and, only then, replaces *list with their
// records. On failure *list and the live file stay as they were. The
// message is empty on success (the accounts page shows none).
FileOpResult RestoreAccounts(AccountList* list, const std::string& chosen,
                             const std::string& live = {}, const DataFileAccess& access = {});

// The accounts page's text for a failed load.
const char* AccountLoadMessage(AccountLoadResult result);

}  // namespace ov
