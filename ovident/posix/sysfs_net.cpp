#include "sysfs_net.h"

namespace ov::ident {

void ApplySysfsFacts(std::vector<Adapter>& adapters, const std::filesystem::path& sysfs_root) {
    const std::filesystem::path net = sysfs_root / "class" / "net";
    for (Adapter& a : adapters) {
        std::error_code ec;
        const std::filesystem::path dir = net / a.description;
        a.device = std::filesystem::exists(dir / "device", ec);
        if (a.type == kTypeEthernet && std::filesystem::exists(dir / "wireless", ec))
            a.type = kTypeWireless;
    }
}

}  // namespace ov::ident
