#include "platform/files.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace ov::platform {
namespace {

HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

ExclusiveFile::ExclusiveFile(ExclusiveFile&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = kInvalid;
}

ExclusiveFile& ExclusiveFile::operator=(ExclusiveFile&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = other.m_handle;
        other.m_handle = kInvalid;
    }
    return *this;
}

ExclusiveFile::~ExclusiveFile() { Close(); }

bool ExclusiveFile::Open(const std::string& path, Mode mode, Share share) {
    Close();
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
        case Mode::ReadExisting: break;
        case Mode::CreateTruncate:
            access |= GENERIC_WRITE;
            disposition = CREATE_ALWAYS;
            break;
        case Mode::OpenAlways:
            access |= GENERIC_WRITE;
            disposition = OPEN_ALWAYS;
            break;
    }
    DWORD share_mode = share == Share::Read ? FILE_SHARE_READ : 0;
    HANDLE h = ::CreateFileA(path.c_str(), access, share_mode, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    m_handle = reinterpret_cast<intptr_t>(h);
    return true;
}

int64_t ExclusiveFile::Size() {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(H(m_handle), &size)) return -1;
    return size.QuadPart;
}

bool ExclusiveFile::ReadAll(std::vector<uint8_t>* out, uint64_t limit) {
    int64_t size = Size();
    if (size < 0) return false;
    if (static_cast<uint64_t>(size) > limit) {
        ::SetLastError(ERROR_FILE_TOO_LARGE);
        return false;
    }
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(H(m_handle), zero, nullptr, FILE_BEGIN)) return false;
    out->assign(static_cast<size_t>(size), 0);
    size_t done = 0;
    while (done < out->size()) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(out->size() - done, 1u << 20));
        DWORD got = 0;
        if (!::ReadFile(H(m_handle), out->data() + done, want, &got, nullptr)) return false;
        if (got == 0) break;
        done += got;
    }
    out->resize(done);
    return true;
}

bool ExclusiveFile::Write(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(H(m_handle), p, chunk, &written, nullptr)) return false;
        p += written;
        size -= written;
    }
    return true;
}

bool ExclusiveFile::SeekEnd() {
    LARGE_INTEGER zero{};
    return ::SetFilePointerEx(H(m_handle), zero, nullptr, FILE_END) != 0;
}

bool ExclusiveFile::Truncate() {
    LARGE_INTEGER zero{};
    return ::SetFilePointerEx(H(m_handle), zero, nullptr, FILE_BEGIN) &&
           ::SetEndOfFile(H(m_handle));
}

bool ExclusiveFile::Sync() { return ::FlushFileBuffers(H(m_handle)) != 0; }

bool ExclusiveFile::Close() {
    if (m_handle == kInvalid) return true;
    HANDLE h = H(m_handle);
    m_handle = kInvalid;
    return ::CloseHandle(h) != 0;
}

uint32_t LastErrorCode() { return ::GetLastError(); }
void SetLastErrorCode(uint32_t code) { ::SetLastError(code); }

std::string SystemMessage(uint32_t code) {
    char* text = nullptr;
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result;
    if (n && text) {
        result.assign(text, n);
        while (!result.empty() && (result.back() == '\n' || result.back() == '\r'))
            result.pop_back();
    }
    if (text) ::LocalFree(text);
    return result;
}

std::string ErrorText(uint32_t code) {
    return "err " + std::to_string(code) + " - " + SystemMessage(code);
}
std::string ErrorText() { return ErrorText(LastErrorCode()); }

bool PathExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemoveFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

bool RenameOver(const std::string& source, const std::string& target) {
    // Fails with a sharing violation while anyone holds either file open
    // without delete sharing, which is how all of our opens hold them.
    return ::MoveFileExA(source.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool WriteFileAtomically(const std::string& target, const void* data, size_t size) {
    const std::string temp = target + ".tmp";
    {
        ExclusiveFile file;
        if (!file.Open(temp, ExclusiveFile::Mode::CreateTruncate)) return false;
        if (!file.Write(data, size) || !file.Sync()) {
            DWORD e = ::GetLastError();
            file.Close();
            ::DeleteFileA(temp.c_str());
            ::SetLastError(e);
            return false;
        }
    }
    if (!RenameOver(temp, target)) {
        DWORD e = ::GetLastError();
        ::DeleteFileA(temp.c_str());
        ::SetLastError(e);
        return false;
    }
    return true;
}

bool CopyFileOver(const std::string& source, const std::string& target, uint64_t limit) {
    std::vector<uint8_t> bytes;
    {
        ExclusiveFile in;
        if (!in.Open(source, ExclusiveFile::Mode::ReadExisting)) return false;
        if (!in.ReadAll(&bytes, limit)) return false;
    }
    return WriteFileAtomically(target, bytes.data(), bytes.size());
}

std::string ProgramDirectory() {
    // The main module, not the DLL that runs this code: the libraries use
    // the data files beside the program that loaded them.
    std::string path(MAX_PATH, '\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return "";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 32768) return "";
        path.resize(path.size() * 2);
    }
    auto slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace ov::platform
