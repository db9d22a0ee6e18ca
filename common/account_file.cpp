#include "common/account_file.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "common/bytes.h"
#include "common/tea.h"
#include "platform/files.h"

namespace ov {
namespace {

constexpr size_t kTrailer = 8;

std::string Field(const AccountRecord& r, size_t offset, size_t size) {
    return FieldText(reinterpret_cast<const char*>(r.bytes + offset), size);
}

void SetField(AccountRecord& r, size_t offset, size_t size, std::string_view text) {
    SetFieldText(reinterpret_cast<char*>(r.bytes + offset), size, text);
}

uint32_t ByteSum(const uint8_t* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += p[i];
    return sum;
}

unsigned TickSeed() {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return unsigned(ms.count()) & 0xffff;
}

}  // namespace

AccountRecord AccountRecord::Make(std::string_view name, std::string_view password, bool enabled,
                                  std::string_view description) {
    AccountRecord r;
    r.SetName(name);
    r.SetPassword(password);
    r.SetEnabled(enabled);
    r.SetDescription(description);
    return r;
}

std::string AccountRecord::Name() const {
    return Field(*this, kNameOffset, kNameSize);
}
std::string AccountRecord::Password() const {
    return Field(*this, kPasswordOffset, kPasswordSize);
}
bool AccountRecord::Enabled() const {
    return DecodeFixed32LE(bytes + kEnabledOffset) != 0;
}
std::string AccountRecord::Description() const {
    return Field(*this, kDescriptionOffset, kDescriptionSize);
}
void AccountRecord::SetName(std::string_view t) {
    SetField(*this, kNameOffset, kNameSize, t);
}
void AccountRecord::SetPassword(std::string_view t) {
    SetField(*this, kPasswordOffset, kPasswordSize, t);
}
void AccountRecord::SetEnabled(bool enabled) {
    EncodeFixed32LE(bytes + kEnabledOffset, enabled ? 1 : 0);
}
void AccountRecord::SetDescription(std::string_view t) {
    SetField(*this, kDescriptionOffset, kDescriptionSize, t);
}

std::string AccountFilePath(const std::string& path) {
    return path.empty() ? platform::ProgramDirectory() + kAccountFileName : path;
}

namespace {

// The records of an enciphered file image; *list is replaced on Ok only.
AccountLoadResult ParseImage(std::vector<uint8_t> data, AccountList* list) {
    // Shorter than its own trailer, a file has no sum to check.
    if (data.size() < kTrailer)
        return AccountLoadResult::Corrupt;
    DecipherBlocks(data.data(), data.size());
    const size_t body = data.size() - kTrailer;
    if (DecodeFixed32BE(data.data() + body) != ByteSum(data.data(), body))
        return AccountLoadResult::Corrupt;
    // No test on the length beyond the sum: whole records are taken, as
    // every reader of this file has always done.
    AccountList loaded(data.size() / AccountRecord::kSize);
    for (size_t i = 0; i < loaded.size(); ++i)
        std::memcpy(loaded[i].bytes, data.data() + i * AccountRecord::kSize, AccountRecord::kSize);
    *list = std::move(loaded);
    return AccountLoadResult::Ok;
}

}  // namespace

int FindAccount(const AccountList& list, std::string_view name) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].Name() == name)
            return int(i);
    return -1;
}

AccountLoadResult LoadAccounts(AccountList* list, const std::string& path,
                               const DataFileAccess& access, platform::Error* why) {
    std::vector<uint8_t> data;
    if (platform::Result r = ReadDataFile(AccountFilePath(path), &data, access); !r) {
        if (why)
            *why = r.error();
        return AccountLoadResult::ReadFailed;
    }
    return ParseImage(std::move(data), list);
}

std::vector<uint8_t> AccountFileImage(const AccountList& list, unsigned seed) {
    std::vector<uint8_t> image;
    if (list.empty())
        return image;
    const size_t body = list.size() * AccountRecord::kSize;
    image.resize(body + kTrailer);
    for (size_t i = 0; i < list.size(); ++i)
        std::memcpy(image.data() + i * AccountRecord::kSize, list[i].bytes, AccountRecord::kSize);
    EncodeFixed32BE(image.data() + body, ByteSum(image.data(), body));
    std::srand(seed);
    for (size_t i = 0; i < 4; ++i) image[body + 4 + i] = uint8_t(std::rand() & 0xff);
    EncipherBlocks(image.data(), image.size());
    return image;
}

platform::Result SaveAccounts(const AccountList& list, const std::string& path,
                              const DataFileAccess& access) {
    return WriteDataFile(AccountFilePath(path), AccountFileImage(list, TickSeed()), access);
}

FileOpResult BackupAccounts(const std::string& chosen, const std::string& live,
                            const DataFileAccess& access) {
    return BackupDataFile(AccountFilePath(live), chosen, access, "备份帐号文件成功!",
                          "备份帐号文件失败!");
}

FileOpResult RestoreAccounts(AccountList* list, const std::string& chosen, const std::string& live,
                             const DataFileAccess& access) {
    // One read: the bytes that were checked are the bytes put in place, even
    // if someone changes the chosen file in between.
    std::vector<uint8_t> data;
    if (platform::Result r = ReadDataFile(chosen, &data); !r)
        return {false, "读备份的帐号文件错误!", r.error().Text()};
    AccountList restored;
    if (ParseImage(data, &restored) != AccountLoadResult::Ok)
        return {false, "备份的帐号文件被损坏或修改!"};
    if (platform::Result r = WriteDataFile(AccountFilePath(live), data, access); !r)
        return {false, "恢复帐号文件失败!", r.error().Text()};
    *list = std::move(restored);
    return {true, ""};
}

const char* AccountLoadMessage(AccountLoadResult result) {
    switch (result) {
        case AccountLoadResult::Ok:
            return "";
        case AccountLoadResult::Corrupt:
            return "用户帐号文件uinfo.dat被损坏!";
        case AccountLoadResult::ReadFailed:
            return "读用户帐号文件uinfo.dat出错!";
    }
    return "读用户信息时发生未知错误!";
}

}  // namespace ov
