// Files as our programs share them: every open of a data file is exclusive,
// so two of our processes never read a half-written file or write at once.
// On Windows that is the share mode of CreateFileA; on Linux every one of our
// programs takes an advisory lock (flock) on each file it opens, which gives
// the same exclusion between our processes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/error.h"

namespace ov::platform {

// Who may read a file that a write creates. A file that is replaced keeps
// its own access in any case (mode and owner on Linux, security descriptor
// and attributes on Windows), and so does an existing file that is opened.
enum class NewFile {
    Default,        // as the system gives new files (umask, inherited permissions)
    OwnerOnly,      // Linux: mode 0600; Windows: as Default
    OwnerAndGroup,  // Linux: mode 0640 whatever the umask, for logs that the
                    // members of the data directory's group read; Windows:
                    // as Default
};

class ExclusiveFile {
  public:
    enum class Mode {
        ReadExisting,    // read only; fails when the file is missing
        CreateTruncate,  // read and write; created when missing, emptied when present
        OpenAlways,      // read and write; created when missing, kept when present
    };
    // Readers that are not ours (an editor, `tail`) may look at the file
    // while it is open; used for the log.
    enum class Share { None, Read };

    ExclusiveFile() = default;
    ExclusiveFile(const ExclusiveFile&) = delete;
    ExclusiveFile& operator=(const ExclusiveFile&) = delete;
    ExclusiveFile(ExclusiveFile&& other) noexcept;
    ExclusiveFile& operator=(ExclusiveFile&& other) noexcept;
    ~ExclusiveFile();

    // Fails when the file cannot be opened or another opener holds it
    // (then error().InUse()). A file the open creates gets the access of
    // created (Default: within the umask; the others exactly).
    Result Open(const std::string& path, Mode mode, Share share = Share::None,
                NewFile created = NewFile::Default);
    bool IsOpen() const { return m_handle != kInvalid; }

    // Size in bytes, or -1 on error.
    int64_t Size();
    // Reads the whole file from offset 0. Fails when it is larger than limit.
    Result ReadAll(std::vector<uint8_t>* out, uint64_t limit);
    // Writes all bytes at the current position.
    Result Write(const void* data, size_t size);
    Result SeekEnd();
    // Cuts the file at offset 0 and moves there.
    Result Truncate();
    // Forces the data to the disk.
    Result Sync();
    // Closes; fails when the close itself reported an error.
    Result Close();

    // The file descriptor (Linux) or HANDLE (Windows); -1 when closed.
    intptr_t native_handle() const { return m_handle; }

  private:
    static constexpr intptr_t kInvalid = -1;
    intptr_t m_handle = kInvalid;
};

// For callers that report the last failure of their thread themselves; new
// code passes the Error of a Result instead.
uint32_t LastErrorCode();
std::string ErrorText();  // Error::Last().Text()

bool PathExists(const std::string& path);
Result RemoveFile(const std::string& path);

// Renames source to target in one step, replacing target. Fails, leaving
// both untouched, when either file is held open by one of our processes.
Result RenameOver(const std::string& source, const std::string& target);

// Writes data to target so that target is either its old self or the new
// bytes, never a truncated mixture: the bytes go to a file beside it, are
// synced, and replace target in one rename.
Result WriteFileAtomically(const std::string& target, const void* data, size_t size,
                           NewFile created = NewFile::Default);

// Copies source over target (atomically as above). Both opens are
// exclusive. Sources larger than limit are refused.
Result CopyFileOver(const std::string& source, const std::string& target,
                    uint64_t limit = 64u << 20, NewFile created = NewFile::Default);

// Runs attempt until it succeeds, fails for another reason than a file held
// by another program, or wait has passed; its last result. For files that
// another of our programs opens for a moment (the gateway at every login).
Result RetryWhileInUse(std::chrono::milliseconds wait, const std::function<Result()>& attempt);

// The directory of the running program's executable (the main module, also
// when called from a shared library), with its trailing separator; empty when
// it cannot be told.
std::string ProgramDirectory();

// Where the gateway and its tools keep their data files (accounts, trusted
// IDs, settings, logs), with its trailing separator: the directory named by
// OVG_DATA_DIR when it is set (an installed Linux gateway keeps its data
// apart from its programs), else ProgramDirectory(). Windows keeps the
// files beside the program.
std::string DataDirectory();

}  // namespace ov::platform
