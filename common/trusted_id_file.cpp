#include "common/trusted_id_file.h"

#include <cstring>

#include "common/bytes.h"
#include "common/tea.h"
#include "platform/files.h"

namespace ov {
namespace {

constexpr size_t kIdFileSize = 1024;
constexpr size_t kIdValueOffset = 1010;
constexpr size_t kBackupRecordsChecked = 5;

// *opened tells a file that could not be opened (which some readers take
// as nothing to read) from one that failed to read.
bool ReadWhole(const std::string& path, std::vector<uint8_t>* data, bool* opened,
               platform::Error* why = nullptr, const DataFileAccess& access = {}) {
    platform::ExclusiveFile file;
    platform::Result r = platform::RetryWhileInUse(access.wait_if_held, [&] {
        return file.Open(path, platform::ExclusiveFile::Mode::ReadExisting);
    });
    *opened = r.ok();
    if (r)
        r = file.ReadAll(data, kMaxDataFileSize);
    if (!r && why)
        *why = r.error();
    return r.ok();
}

std::vector<uint8_t> FileImage(const TrustedIdList& list) {
    std::vector<uint8_t> data(list.size() * TrustedIdRecord::kSize);
    for (size_t i = 0; i < list.size(); ++i)
        std::memcpy(data.data() + i * TrustedIdRecord::kSize, list[i].bytes,
                    TrustedIdRecord::kSize);
    return data;
}

TrustedIdList ParseRecords(const std::vector<uint8_t>& data) {
    // A shorter remainder is ignored.
    TrustedIdList list(data.size() / TrustedIdRecord::kSize);
    for (size_t i = 0; i < list.size(); ++i)
        std::memcpy(list[i].bytes, data.data() + i * TrustedIdRecord::kSize,
                    TrustedIdRecord::kSize);
    return list;
}

bool MarkersAreGood(const std::vector<uint8_t>& data) {
    size_t n = data.size() / TrustedIdRecord::kSize;
    if (n > kBackupRecordsChecked)
        n = kBackupRecordsChecked;
    for (size_t i = 0; i < n; ++i) {
        uint8_t marker = data[i * TrustedIdRecord::kSize + 4];
        if (marker != 0x55 && marker != 0xAA)
            return false;
    }
    return true;
}

}  // namespace

TrustedIdRecord TrustedIdRecord::Make(const IdValue& id, std::string_view description) {
    TrustedIdRecord r;
    std::memcpy(r.bytes + kIdOffset, id.data(), id.size());
    r.SetDescription(description);
    return r;
}

IdValue TrustedIdRecord::Id() const {
    IdValue id;
    std::memcpy(id.data(), bytes + kIdOffset, id.size());
    return id;
}

std::string TrustedIdRecord::Description() const {
    return FieldText(reinterpret_cast<const char*>(bytes + kDescriptionOffset), kDescriptionSize);
}

void TrustedIdRecord::SetDescription(std::string_view description) {
    SetFieldText(reinterpret_cast<char*>(bytes + kDescriptionOffset), kDescriptionSize,
                 description);
}

uint16_t TrustedIdRecord::Reserved() const {
    return DecodeFixed16LE(bytes + kReservedOffset);
}

std::string TrustedIdFilePath(const std::string& path) {
    return path.empty() ? platform::ProgramDirectory() + kTrustedIdFileName : path;
}

bool LoadTrustedIds(TrustedIdList* list, const std::string& path, bool* loaded,
                    const DataFileAccess& access) {
    std::vector<uint8_t> data;
    bool opened = false;
    if (loaded)
        *loaded = false;
    if (!ReadWhole(TrustedIdFilePath(path), &data, &opened, nullptr, access))
        return !opened;
    *list = ParseRecords(data);
    if (loaded)
        *loaded = true;
    return true;
}

platform::Result LoadTrustedIdsToChange(TrustedIdList* list, const std::string& path,
                                        const DataFileAccess& access) {
    std::vector<uint8_t> data;
    platform::Result r = ReadDataFile(TrustedIdFilePath(path), &data, access);
    if (!r && !r.error().NotFound())
        return r;
    *list = ParseRecords(data);
    return {};
}

platform::Result SaveTrustedIds(const TrustedIdList& list, const std::string& path,
                                const DataFileAccess& access) {
    return WriteDataFile(TrustedIdFilePath(path), FileImage(list), access);
}

IdFileResult ReadIdFile(const std::string& path) {
    IdFileResult result;
    platform::ExclusiveFile file;
    std::vector<uint8_t> data;
    // Only the first 1024 bytes count; a larger file is read no further
    // than the data file bound.
    platform::Result r = file.Open(path, platform::ExclusiveFile::Mode::ReadExisting);
    if (r)
        r = file.ReadAll(&data, kMaxDataFileSize);
    if (!r) {
        result.message = "cannot read the ID file " + path + ": " + r.error().Text();
        return result;
    }
    if (data.size() < kIdFileSize) {
        result.message = "the ID file is  corrupted";
        return result;
    }
    DecipherBlocks(data.data(), kIdFileSize);
    std::memcpy(result.value.data(), data.data() + kIdValueOffset, result.value.size());
    result.ok = true;
    return result;
}

int FindTrustedId(const TrustedIdList& list, const IdValue& id) {
    for (size_t i = 0; i < list.size(); ++i)
        if (std::memcmp(list[i].bytes, id.data(), kIdIdentityBytes) == 0)
            return int(i);
    return -1;
}

ImportResult ImportTrustedId(TrustedIdList* list, const IdValue& id, std::string_view description) {
    int found = FindTrustedId(*list, id);
    if (found >= 0)
        return {false, size_t(found)};
    list->push_back(TrustedIdRecord::Make(id, description));
    return {true, list->size() - 1};
}

bool CheckTrustedIdBackup(const std::string& path) {
    std::vector<uint8_t> data;
    bool opened = false;
    if (!ReadWhole(path, &data, &opened))
        return !opened;
    return MarkersAreGood(data);
}

FileOpResult BackupTrustedIds(const std::string& chosen, const std::string& live,
                              const DataFileAccess& access) {
    return BackupDataFile(TrustedIdFilePath(live), chosen, access, "备份配置文件成功!",
                          "备份配置文件失败!");
}

FileOpResult RestoreTrustedIds(TrustedIdList* list, const std::string& chosen,
                               const std::string& live, const DataFileAccess& access) {
    // One read: the bytes that were checked are the bytes put in place and
    // listed, even if the chosen file changes meanwhile or the live file is
    // opened by a reader right after the rename.
    std::vector<uint8_t> data;
    bool opened = false;
    platform::Error why;
    if (!ReadWhole(chosen, &data, &opened, &why)) {
        // Unopenable passes the check and then fails as a copy.
        return {false, opened ? "恢复配置文件格式不正确!" : "恢复配置文件失败!", why.Text()};
    }
    if (!MarkersAreGood(data))
        return {false, "恢复配置文件格式不正确!"};
    if (platform::Result r = WriteDataFile(TrustedIdFilePath(live), data, access); !r)
        return {false, "恢复配置文件失败!", r.error().Text()};
    *list = ParseRecords(data);
    return {true, "恢复配置文件成功!"};
}

}  // namespace ov
