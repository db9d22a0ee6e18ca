// TrustID.dat: the IDs of the clients the gateway trusts when the ID check
// is on. 250-byte records back to back, no header, no cipher. IDs come from
// ID files ("*.id"), 1024 TEA-enciphered bytes holding an 11-byte IdValue.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "common/file_ops.h"

namespace ov {

inline constexpr char kTrustedIdFileName[] = "TrustID.dat";
inline constexpr char kTrustedIdBackupName[] = "TrustIDBak.dat";

// Byte 4 is a marker, 0x55 or 0xAA; the first 5 bytes tell IDs apart.
using IdValue = std::array<uint8_t, 11>;
inline constexpr size_t kIdIdentityBytes = 5;

// What the add and edit dialogs accept for a description, in bytes of GBK
// text; the record keeps the first 147 bytes of it.
inline constexpr size_t kMaxTrustedIdDescription = 200;

struct TrustedIdRecord {
    static constexpr size_t kSize = 250;
    static constexpr size_t kIdOffset = 0, kIdSize = 100;
    static constexpr size_t kDescriptionOffset = 100, kDescriptionSize = 148;
    static constexpr size_t kReservedOffset = 248;

    uint8_t bytes[kSize] = {};

    // id = the 11 bytes and zeros, reserved 0, the description cut to fit.
    static TrustedIdRecord Make(const IdValue& id, std::string_view description);

    IdValue Id() const;
    std::string Description() const;
    // A description longer than the field's 147 bytes is cut there, never
    // inside a double-byte character.
    void SetDescription(std::string_view description);
    uint16_t Reserved() const;
};
static_assert(sizeof(TrustedIdRecord) == TrustedIdRecord::kSize);
static_assert(TrustedIdRecord::kIdOffset + TrustedIdRecord::kIdSize ==
              TrustedIdRecord::kDescriptionOffset);
static_assert(TrustedIdRecord::kDescriptionOffset + TrustedIdRecord::kDescriptionSize ==
              TrustedIdRecord::kReservedOffset);
static_assert(TrustedIdRecord::kReservedOffset + 2 == TrustedIdRecord::kSize);
static_assert(std::tuple_size_v<IdValue> <= TrustedIdRecord::kIdSize);

using TrustedIdList = std::vector<TrustedIdRecord>;

// Empty path: ProgramDirectory() + "TrustID.dat".
std::string TrustedIdFilePath(const std::string& path = {});

// A file that cannot be opened (missing, or held by another program) leaves
// *list as it was and counts as success; otherwise *list becomes the
// floor(L/250) records of the file. False only when reading fails.
// *loaded (may be null) tells whether the list now holds the file's records.
// A file held by another program is waited for as access says.
bool LoadTrustedIds(TrustedIdList* list, const std::string& path = {}, bool* loaded = nullptr,
                    const DataFileAccess& access = {});

// The list that a change starts from, or to report: as LoadTrustedIds, but
// only a missing file counts as the empty list. A file that is held by
// another program (once access's wait has passed) or cannot be read fails,
// so that nobody saves a list that was never loaded over the real one.
platform::Result LoadTrustedIdsToChange(TrustedIdList* list, const std::string& path,
                                        const DataFileAccess& access);

// Writes every record in order, replacing the old file in one rename (see
// WriteDataFile). Fails when the file cannot be written; the old file is
// then kept.
platform::Result SaveTrustedIds(const TrustedIdList& list, const std::string& path = {},
                                const DataFileAccess& access = {});

struct IdFileResult {
    bool ok = false;
    IdValue value{};
    std::string message;  // why it was refused
};
// The IdValue of an ID file (bytes 1010..1020 of its first 1024 bytes,
// deciphered); bytes past 1024 are ignored. Files shorter than 1024 bytes
// are refused with "the ID file is  corrupted"; files that cannot be opened
// or read are refused too, so no entry is ever made without an ID. The check
// word at 1022 is not enforced: ID files made by other tools may not fill it.
IdFileResult ReadIdFile(const std::string& path);

// The position of the record that counts as the same ID (equal first five
// bytes), or -1.
int FindTrustedId(const TrustedIdList& list, const IdValue& id);

// The import rule: when an entry counts as the same ID, nothing is added
// and index is its position; otherwise a new record (reserved 0, the
// description cut as SetDescription says) is appended at index. The caller
// saves the list when added.
struct ImportResult {
    bool added = false;
    size_t index = 0;
};
ImportResult ImportTrustedId(TrustedIdList* list, const IdValue& id, std::string_view description);

// The format test before a restore: the marker byte of the first (at most
// five) records. A file that cannot be opened passes (its copy then fails).
bool CheckTrustedIdBackup(const std::string& path);

// Copies the live file to chosen (after the ".dat" rule).
FileOpResult BackupTrustedIds(const std::string& chosen, const std::string& live = {},
                              const DataFileAccess& access = {});
// Reads chosen once, checks those bytes as CheckTrustedIdBackup does, writes
// them over the live file in one rename and fills *list from them. On
// failure *list and the live file stay as they were.
FileOpResult RestoreTrustedIds(TrustedIdList* list, const std::string& chosen,
                               const std::string& live = {}, const DataFileAccess& access = {});

}  // namespace ov
