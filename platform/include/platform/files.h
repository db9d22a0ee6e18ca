// Files as our programs share them: every open of a data file is exclusive,
// so two of our processes never read a half-written file or write at once.
// On Windows that is the share mode of CreateFileA; on Linux every one of our
// programs takes an advisory lock (flock) on each file it opens, which gives
// the same exclusion between our processes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ov::platform {

class ExclusiveFile {
public:
    enum class Mode {
        ReadExisting,     // read only; fails when the file is missing
        CreateTruncate,   // read and write; created when missing, emptied when present
        OpenAlways,       // read and write; created when missing, kept when present
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

    // Fails (false, last error set) when the file cannot be opened or
    // another opener holds it.
    bool Open(const std::string& path, Mode mode, Share share = Share::None);
    bool IsOpen() const { return m_handle != kInvalid; }

    // Size in bytes, or -1 on error.
    int64_t Size();
    // Reads the whole file from offset 0. Fails when it is larger than limit.
    bool ReadAll(std::vector<uint8_t>* out, uint64_t limit);
    // Writes all bytes at the current position.
    bool Write(const void* data, size_t size);
    bool SeekEnd();
    // Cuts the file at offset 0 and moves there.
    bool Truncate();
    // Forces the data to the disk.
    bool Sync();
    // Closes; false when the close itself reported an error.
    bool Close();

private:
    static constexpr intptr_t kInvalid = -1;
    intptr_t m_handle = kInvalid;
};

// The code of the last failed platform call of this thread (errno or
// GetLastError), and the system's text for a code.
uint32_t LastErrorCode();
void SetLastErrorCode(uint32_t code);
std::string SystemMessage(uint32_t code);
// "err %u - %s": the code and the system's text, for log lines.
std::string ErrorText(uint32_t code);
std::string ErrorText();

bool PathExists(const std::string& path);
bool RemoveFile(const std::string& path);

// Renames source to target in one step, replacing target. Fails, leaving
// both untouched, when either file is held open by one of our processes.
bool RenameOver(const std::string& source, const std::string& target);

// Writes data to target so that target is either its old self or the new
// bytes, never a truncated mixture: the bytes go to a file beside it, are
// synced, and replace target in one rename.
bool WriteFileAtomically(const std::string& target, const void* data, size_t size);

// Copies source over target (atomically as above). Both opens are
// exclusive. Sources larger than limit are refused.
bool CopyFileOver(const std::string& source, const std::string& target,
                  uint64_t limit = 64u << 20);

// The directory of the running program's executable (the main module, also
// when called from a shared library), with its trailing separator; empty when
// it cannot be told.
std::string ProgramDirectory();

}  // namespace ov::platform
