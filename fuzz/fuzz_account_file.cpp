// uinfo.dat as anyone may leave it: any bytes load or are refused, never
// overrun; what loads writes back to an image that loads to the same records.
#include <cstring>

#include "common/account_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ov::AccountList list;
    // A list without records (no administrator) is never written: an empty
    // image is an empty file, which does not load.
    if (ov::LoadAccounts(&list, ov::fuzz::InputFile(data, size)) != ov::AccountLoadResult::Ok ||
        list.empty())
        return 0;
    std::vector<uint8_t> image = ov::AccountFileImage(list, 7);
    ov::AccountList again;
    if (ov::LoadAccounts(&again, ov::fuzz::InputFile(image.data(), image.size())) !=
            ov::AccountLoadResult::Ok ||
        again.size() != list.size() ||
        std::memcmp(again.data(), list.data(), list.size() * sizeof(ov::AccountRecord)) != 0)
        __builtin_trap();
    return 0;
}
