// The web agent's encoded fields: any text decodes without harm, and a text
// without zero bytes comes back from its encoding unchanged.
#include <algorithm>

#include "common/content_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte chooses how much of the input is the key text.
    size_t key_size = size ? std::min<size_t>(data[0] % 24, size - 1) : 0;
    std::string_view rest(reinterpret_cast<const char*>(data) + (size ? 1 : 0),
                          size ? size - 1 : 0);
    std::string_view key = rest.substr(0, key_size);
    std::string_view text = rest.substr(key_size);
    ov::DecodeContent(text, key);
    ov::DottedToNumber(text);
    std::string plain(text);
    plain.erase(std::remove(plain.begin(), plain.end(), '\0'), plain.end());
    if (ov::DecodeContent(ov::EncodeContent(plain, key), key) != plain)
        __builtin_trap();
    return 0;
}
