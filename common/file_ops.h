// What the file operations of the setup pages report: whether they worked,
// and the GBK text to show the operator.
#pragma once

#include <cstdint>
#include <string>

namespace ov {

struct FileOpResult {
    bool ok = false;
    std::string message;
};

// The ".dat" rule of backup names: appended unless the last four
// characters are exactly ".dat" (so "X.DAT" becomes "X.DAT.dat").
inline std::string WithDatSuffix(std::string path) {
    if (path.size() < 4 || path.compare(path.size() - 4, 4, ".dat") != 0) path += ".dat";
    return path;
}

// Data files larger than this are refused rather than read into memory; no
// real account or trusted-ID file comes near it.
inline constexpr uint64_t kMaxDataFileSize = 16u << 20;

}  // namespace ov
