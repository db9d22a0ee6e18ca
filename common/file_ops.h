// What the file operations of the setup pages report, and how every
// program of ours reads and writes the data files (uinfo.dat, TrustID.dat
// and their backups).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.h"

namespace ov {

struct FileOpResult {
    FileOpResult() = default;
    FileOpResult(bool ok_, std::string message_, std::string why_ = {})
        : ok(ok_), message(std::move(message_)), why(std::move(why_)) {}

    bool ok = false;
    std::string message;  // the GBK text to show the operator
    std::string why;      // the system's reason of a failure ("err %u - %s"), if there is one
};

// The ".dat" rule of backup names: appended unless the last four
// characters are exactly ".dat" (so "X.DAT" becomes "X.DAT.dat").
inline std::string WithDatSuffix(std::string path) {
    if (path.size() < 4 || path.compare(path.size() - 4, 4, ".dat") != 0)
        path += ".dat";
    return path;
}

// Data files larger than this are refused rather than read into memory; no
// real account or trusted-ID file comes near it.
inline constexpr uint64_t kMaxDataFileSize = 16u << 20;

// How long a read or write of a data file waits while another program
// holds the file. The gateway opens each file for a moment at every login;
// an administration program waits a few seconds for it rather than fail,
// the gateway itself waits for nothing.
struct DataFileAccess {
    std::chrono::milliseconds wait_if_held{0};
};

// The whole file (at most kMaxDataFileSize bytes), read under an exclusive
// open that is closed at once.
platform::Result ReadDataFile(const std::string& path, std::vector<uint8_t>* data,
                              const DataFileAccess& access = {});
// Replaces the file in one rename. It keeps the access of the file it
// replaces; a new one is readable by its owner only (Linux), since these
// files hold passwords and the IDs that may log in.
platform::Result WriteDataFile(const std::string& path, const std::vector<uint8_t>& data,
                               const DataFileAccess& access = {});

// Copies the live file to chosen (after the ".dat" rule); a new copy is
// private as WriteDataFile makes it, since it holds what the live file
// holds. The result carries the page's message for success or failure.
FileOpResult BackupDataFile(const std::string& live, const std::string& chosen,
                            const DataFileAccess& access, const char* done, const char* failed);

}  // namespace ov
