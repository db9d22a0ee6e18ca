// Helpers of the fuzz targets: the file readers take a path, so an input is
// written to a file of this process first.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace ov::fuzz {

// A file of this process under $TMPDIR (or /tmp) holding exactly the input.
inline const std::string& InputFile(const uint8_t* data, size_t size) {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/ov-fuzz-" + std::to_string(::getpid());
    }();
    // Registered once the path is complete, so it runs before the path goes.
    static const bool removed_at_exit = std::atexit([] { std::remove(path.c_str()); }) == 0;
    (void)removed_at_exit;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);
    return path;
}

}  // namespace ov::fuzz
