// The kernel's own route choice for one IPv4 address, asked over rtnetlink.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ov::ident {

enum class RouteKind {
    kNone,        // no route, or the kernel could not be asked
    kOnLink,      // a neighbour on a directly connected network that uses ARP
    kViaGateway,  // reached through a router
    kLocal,       // one of this machine's own addresses
    kOther,       // broadcast, multicast, blackhole, prohibited, a link without ARP
};

struct Route {
    RouteKind kind = RouteKind::kNone;
    int interfaceIndex = 0;  // the outgoing interface, 0 when not given
};

// Asks the kernel how it would send to ip (network byte order).
RouteKind RouteTo(uint32_t ip);

// The answer to an RTM_GETROUTE request as the kernel sends it; anything cut
// short or unexpected is kNone. Says nothing yet about ARP on the link.
Route ParseRouteReply(const void* data, size_t size);

}  // namespace ov::ident
