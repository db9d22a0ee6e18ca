// TrustID.dat, a backup and an ID file made of the same bytes: read, checked
// and imported without ever reading past what is there.
#include "common/trusted_id_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = ov::fuzz::InputFile(data, size);
    ov::TrustedIdList list;
    bool loaded = false;
    ov::LoadTrustedIds(&list, path, &loaded);
    ov::CheckTrustedIdBackup(path);
    ov::IdFileResult id = ov::ReadIdFile(path);
    if (id.ok) {
        size_t before = list.size();
        ov::ImportResult r = ov::ImportTrustedId(&list, id.value, "fuzz");
        // Imported or found, the entry is there and is the same ID.
        if (r.index >= list.size() || ov::FindTrustedId(list, id.value) < 0 ||
            list.size() != before + (r.added ? 1 : 0))
            __builtin_trap();
    }
    return 0;
}
