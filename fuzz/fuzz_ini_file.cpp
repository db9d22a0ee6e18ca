// The ini reader on any file, then the look-ups and the writer on what it read.
#include "common/ini_file.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ov::IniFile ini(ov::fuzz::InputFile(data, size));
    ini.ReadFile();
    for (const auto& section : ini.Sections()) {
        for (const auto& key : section.keys) {
            ini.GetValue(section.name, key);
            ini.GetValueI(section.name, key);
        }
    }
    ini.GetValue("OV_G", "CmdPort");
    ini.SetValue("OV_G", "CmdPort", "811", true);
    // What the writer puts out must read back to the same file.
    const std::string written = ini.Serialize();
    ov::IniFile again(
        ov::fuzz::InputFile(reinterpret_cast<const uint8_t*>(written.data()), written.size()));
    again.ReadFile();
    if (again.Serialize() != written)
        __builtin_trap();
    return 0;
}
