#include "platform/files.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace ov::platform {
namespace {

HANDLE H(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

Result LastIfNot(BOOL ok) {
    if (ok)
        return {};
    return Error::Last();
}

// Gives the new file temp the security descriptor and attributes of target,
// so that a replaced uinfo.dat stays as private (and as hidden) as it was.
// Only a privileged user may hand a file to another owner; otherwise the
// DACL is kept and the new file is ours.
Result TakeAccessOf(const std::string& temp, const std::string& target) {
    DWORD attributes = ::GetFileAttributesA(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        Error e = Error::Last();
        return e.NotFound() ? Result() : Result(e);
    }
    const SECURITY_INFORMATION all =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    ::GetFileSecurityA(target.c_str(), all, nullptr, 0, &needed);
    std::vector<uint8_t> descriptor(needed);
    if (needed == 0 || !::GetFileSecurityA(target.c_str(), all, descriptor.data(), needed, &needed))
        return Error::Last();
    if (!::SetFileSecurityA(temp.c_str(), all, descriptor.data()) &&
        !::SetFileSecurityA(temp.c_str(), DACL_SECURITY_INFORMATION, descriptor.data()))
        return Error::Last();
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (attributes & kept)
        return LastIfNot(::SetFileAttributesA(temp.c_str(), attributes & kept));
    return {};
}

}  // namespace

// A new file inherits the directory's permissions whatever created says.
Result ExclusiveFile::Open(const std::string& path, Mode mode, Share share, NewFile /*created*/) {
    Close();
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
        case Mode::ReadExisting:
            break;
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
    if (h == INVALID_HANDLE_VALUE)
        return Error::Last();
    m_handle = reinterpret_cast<intptr_t>(h);
    return {};
}

int64_t ExclusiveFile::Size() {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(H(m_handle), &size))
        return -1;
    return size.QuadPart;
}

Result ExclusiveFile::ReadAll(std::vector<uint8_t>* out, uint64_t limit) {
    int64_t size = Size();
    if (size < 0)
        return Error::Last();
    if (static_cast<uint64_t>(size) > limit) {
        ::SetLastError(ERROR_FILE_TOO_LARGE);
        return Error::FromCode(ERROR_FILE_TOO_LARGE);
    }
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(H(m_handle), zero, nullptr, FILE_BEGIN))
        return Error::Last();
    out->assign(static_cast<size_t>(size), 0);
    size_t done = 0;
    while (done < out->size()) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(out->size() - done, 1u << 20));
        DWORD got = 0;
        if (!::ReadFile(H(m_handle), out->data() + done, want, &got, nullptr))
            return Error::Last();
        if (got == 0)
            break;
        done += got;
    }
    out->resize(done);
    return {};
}

Result ExclusiveFile::Write(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(H(m_handle), p, chunk, &written, nullptr))
            return Error::Last();
        p += written;
        size -= written;
    }
    return {};
}

Result ExclusiveFile::SeekEnd() {
    LARGE_INTEGER zero{};
    return LastIfNot(::SetFilePointerEx(H(m_handle), zero, nullptr, FILE_END));
}

Result ExclusiveFile::Truncate() {
    LARGE_INTEGER zero{};
    return LastIfNot(::SetFilePointerEx(H(m_handle), zero, nullptr, FILE_BEGIN) &&
                     ::SetEndOfFile(H(m_handle)));
}

Result ExclusiveFile::Sync() {
    return LastIfNot(::FlushFileBuffers(H(m_handle)));
}

Result ExclusiveFile::Close() {
    if (m_handle == kInvalid)
        return {};
    HANDLE h = H(m_handle);
    m_handle = kInvalid;
    return LastIfNot(::CloseHandle(h));
}

bool PathExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

Result RemoveFile(const std::string& path) {
    return LastIfNot(::DeleteFileA(path.c_str()));
}

Result RenameOver(const std::string& source, const std::string& target) {
    // Fails with a sharing violation while anyone holds either file open
    // without delete sharing, which is how all of our opens hold them.
    return LastIfNot(::MoveFileExA(source.c_str(), target.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
}

Result WriteFileAtomically(const std::string& target, const void* data, size_t size,
                           NewFile /*created: new files inherit the directory's permissions*/) {
    const std::string temp = target + ".tmp";
    // A temporary left by a crash may be hidden, which CREATE_ALWAYS refuses
    // to meet; while one of ours writes it, this fails harmlessly.
    ::DeleteFileA(temp.c_str());
    Result result;
    {
        ExclusiveFile file;
        if (Result r = file.Open(temp, ExclusiveFile::Mode::CreateTruncate); !r)
            return r;
        // Access first, so the new bytes are never readable by more people
        // than the old ones were (the exclusive open keeps readers out
        // meanwhile; a security descriptor is no data access).
        result = TakeAccessOf(temp, target);
        if (result)
            result = file.Write(data, size);
        if (result)
            result = file.Sync();
    }
    if (result)
        result = RenameOver(temp, target);
    if (!result) {
        ::DeleteFileA(temp.c_str());
        ::SetLastError(result.error().code);
    }
    return result;
}

std::string ProgramDirectory() {
    // The main module, not the DLL that runs this code: the libraries use
    // the data files beside the program that loaded them.
    std::string path(MAX_PATH, '\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return "";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 32768)
            return "";
        path.resize(path.size() * 2);
    }
    auto slash = path.rfind('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string DataDirectory() {
    return ProgramDirectory();
}

}  // namespace ov::platform
