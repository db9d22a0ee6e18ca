// The IP Helper is loaded at run time, as the library always has done, so
// that a system without it still loads the library and only loses the
// adapter answers.
#include <iphlpapi.h>
#include <windows.h>
#include <winioctl.h>
#include <winsock2.h>

#include <cstring>
#include <memory>
#include <new>

#include "backend.h"
#include "platform/message_box.h"

namespace ov::ident {
namespace {

using GetAdaptersInfoFn = DWORD(WINAPI*)(PIP_ADAPTER_INFO, PULONG);
using SendArpFn = DWORD(WINAPI*)(IPAddr, IPAddr, PVOID, PULONG);

// Guards against a corrupt chain; no machine has this many.
constexpr int kMaxAdapters = 256;
constexpr int kMaxAddressesPerAdapter = 64;
constexpr int kMaxPhysicalDrives = 16;

class Library {
  public:
    explicit Library(const char* name) : m_module(::LoadLibraryA(name)) {}
    ~Library() {
        if (m_module)
            ::FreeLibrary(m_module);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    explicit operator bool() const { return m_module != nullptr; }
    template <class F>
    F Function(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(m_module, name)));
    }

  private:
    HMODULE m_module;
};

class Handle {
  public:
    explicit Handle(HANDLE h) : m_h(h) {}
    ~Handle() {
        if (m_h != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_h);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return m_h; }
    bool valid() const { return m_h != INVALID_HANDLE_VALUE; }

  private:
    HANDLE m_h;
};

std::string Bounded(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

void Report(bool report, const char* text) {
    if (report)
        ShowFailure(text);
}

std::string Trimmed(std::string s) {
    const char* blanks = " \t\r\n";
    size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

enum class DriveAnswer { kNotFixedDisk, kNoSerial, kSerial };

// What one physical drive says about itself: a drive that cannot be opened
// or queried, or holds removable media, is not a fixed disk.
DriveAnswer QueryDrive(int index, std::string& text) {
    char path[32];
    snprintf(path, sizeof path, "\\\\.\\PhysicalDrive%d", index);
    // No access rights: the property query needs none, and so works without
    // administrator rights.
    Handle drive(::CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr));
    if (!drive.valid())
        return DriveAnswer::kNotFixedDisk;
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    alignas(STORAGE_DEVICE_DESCRIPTOR) unsigned char buffer[1024] = {};
    DWORD returned = 0;
    if (!::DeviceIoControl(drive.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, buffer,
                           sizeof buffer, &returned, nullptr))
        return DriveAnswer::kNotFixedDisk;
    if (returned < sizeof(STORAGE_DEVICE_DESCRIPTOR))
        return DriveAnswer::kNotFixedDisk;
    const auto* descriptor = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buffer);
    if (descriptor->RemovableMedia)
        return DriveAnswer::kNotFixedDisk;
    DWORD offset = descriptor->SerialNumberOffset;
    DWORD limit = returned < sizeof buffer ? returned : sizeof buffer;
    if (offset == 0 || offset >= limit)
        return DriveAnswer::kNoSerial;
    std::string serial =
        Trimmed(Bounded(reinterpret_cast<const char*>(buffer) + offset, limit - offset));
    if (serial.empty())
        return DriveAnswer::kNoSerial;
    text = serial.substr(0, 47);
    return DriveAnswer::kSerial;
}

}  // namespace

void ShowFailure(const std::string& text) {
    ov::platform::ShowMessageBox(text, "错误", ov::platform::kMbOk | ov::platform::kMbIconError);
}

std::vector<Adapter> ListAdapters(bool report) {
    Library iphlpapi("iphlpapi.dll");
    if (!iphlpapi) {
        Report(report, "iphlpapi.dll动态库文件没找到！");
        return {};
    }
    auto getAdaptersInfo = iphlpapi.Function<GetAdaptersInfoFn>("GetAdaptersInfo");
    if (!getAdaptersInfo) {
        Report(report, "加载函数GetAdaptersInfo()失败！");
        return {};
    }
    ULONG size = 0;
    DWORD result = getAdaptersInfo(nullptr, &size);
    if (result != ERROR_SUCCESS && result != ERROR_BUFFER_OVERFLOW) {
        Report(report, "调用函数GetAdaptersInfo()获取内存大小失败！");
        return {};
    }
    if (size == 0)
        return {};
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size]);
    if (!buffer) {
        Report(report, "内存分配失败！");
        return {};
    }
    auto* first = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.get());
    if (getAdaptersInfo(first, &size) != ERROR_SUCCESS) {
        Report(report, "调用函数GetAdaptersInfo()失败！");
        return {};
    }
    std::vector<Adapter> adapters;
    int n = 0;
    for (const IP_ADAPTER_INFO* p = first; p && n < kMaxAdapters; p = p->Next, ++n) {
        Adapter a;
        a.type = p->Type;
        a.hardwareLength =
            p->AddressLength < sizeof a.hardware ? p->AddressLength : sizeof a.hardware;
        std::memcpy(a.hardware, p->Address, sizeof a.hardware);
        a.description = Bounded(p->Description, sizeof p->Description);
        int m = 0;
        for (const IP_ADDR_STRING* s = &p->IpAddressList; s && m < kMaxAddressesPerAdapter;
             s = s->Next, ++m)
            a.addresses.push_back({Bounded(s->IpAddress.String, sizeof s->IpAddress.String),
                                   Bounded(s->IpMask.String, sizeof s->IpMask.String)});
        adapters.push_back(std::move(a));
    }
    return adapters;
}

bool ReadDiskSerial(std::string& text) {
    // Only the first fixed disk counts: a serial taken from whichever disk
    // happens to report one would change the id when a disk is added.
    for (int i = 0; i < kMaxPhysicalDrives; ++i) {
        switch (QueryDrive(i, text)) {
            case DriveAnswer::kSerial:
                return true;
            case DriveAnswer::kNoSerial:
                return false;
            case DriveAnswer::kNotFixedDisk:
                break;
        }
    }
    return false;
}

bool ReadVolumeSerial(uint32_t& serial) {
    // The serial from the file information of the first plain file in the
    // root of drive C.
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA("c:\\*", &found);
    if (search != INVALID_HANDLE_VALUE) {
        bool ok = false;
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            std::string path = "c:\\" + Bounded(found.cFileName, sizeof found.cFileName);
            Handle file(::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
            if (!file.valid())
                continue;
            BY_HANDLE_FILE_INFORMATION info{};
            if (::GetFileInformationByHandle(file.get(), &info)) {
                serial = info.dwVolumeSerialNumber;
                ok = true;
            }
            break;
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
        if (ok)
            return true;
    }
    // A root holding only directories still has a volume serial.
    DWORD volume = 0;
    if (!::GetVolumeInformationA("c:\\", nullptr, 0, &volume, nullptr, nullptr, nullptr, 0))
        return false;
    serial = volume;
    return true;
}

bool ResolveRemoteMac(uint32_t ip, uint8_t mac[6]) {
    Library iphlpapi("iphlpapi.dll");
    if (!iphlpapi) {
        ShowFailure("iphlpapi.dll动态库文件没找到！");
        return false;
    }
    auto sendArp = iphlpapi.Function<SendArpFn>("SendARP");
    if (!sendArp) {
        ShowFailure("加载函数SendARP()失败！");
        return false;
    }
    ULONG answer[2] = {};
    ULONG length = 6;
    if (sendArp(ip, 0, answer, &length) != NO_ERROR)
        return false;
    std::memcpy(mac, answer, 6);
    return true;
}

}  // namespace ov::ident
