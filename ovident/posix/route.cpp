#include "route.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ov::ident {
namespace {

constexpr int kReplyWaitMs = 1000;

struct RouteRequest {
    nlmsghdr header;
    rtmsg route;
    rtattr destinationHeader;
    uint32_t destination;
};
static_assert(sizeof(RouteRequest) == NLMSG_LENGTH(sizeof(rtmsg)) + RTA_LENGTH(sizeof(uint32_t)));

Route RouteOf(const nlmsghdr* h) {
    Route route;
    if (h->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg)))
        return route;
    const auto* r = static_cast<const rtmsg*>(NLMSG_DATA(h));
    bool viaGateway = false;
    int length = static_cast<int>(RTM_PAYLOAD(h));
    for (const rtattr* a = RTM_RTA(r); RTA_OK(a, length); a = RTA_NEXT(a, length)) {
        if (a->rta_type == RTA_GATEWAY || a->rta_type == RTA_VIA || a->rta_type == RTA_MULTIPATH)
            viaGateway = true;
        if (a->rta_type == RTA_OIF && RTA_PAYLOAD(a) >= sizeof(int32_t))
            std::memcpy(&route.interfaceIndex, RTA_DATA(a), sizeof(int32_t));
    }
    if (r->rtm_type == RTN_LOCAL)
        route.kind = RouteKind::kLocal;
    else if (r->rtm_type != RTN_UNICAST)
        route.kind = RouteKind::kOther;
    else
        route.kind = viaGateway ? RouteKind::kViaGateway : RouteKind::kOnLink;
    return route;
}

// Point-to-point links (tunnels, PPP) and links marked NOARP have no
// neighbours to ask: what is sent there leaves the machine.
bool UsesArp(int interfaceIndex) {
    char name[IF_NAMESIZE] = {};
    if (interfaceIndex <= 0 || !::if_indextoname(static_cast<unsigned>(interfaceIndex), name))
        return false;
    int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    ifreq request{};
    std::memcpy(request.ifr_name, name, sizeof name);
    bool arp = ::ioctl(s, SIOCGIFFLAGS, &request) == 0 &&
               !(request.ifr_flags & (IFF_NOARP | IFF_POINTOPOINT | IFF_LOOPBACK));
    ::close(s);
    return arp;
}

}  // namespace

Route ParseRouteReply(const void* data, size_t size) {
    int length = static_cast<int>(std::min<size_t>(size, 1 << 20));
    for (auto* h = static_cast<const nlmsghdr*>(data); NLMSG_OK(h, length);
         h = NLMSG_NEXT(h, length)) {
        if (h->nlmsg_type == RTM_NEWROUTE)
            return RouteOf(h);
        if (h->nlmsg_type == NLMSG_ERROR || h->nlmsg_type == NLMSG_DONE)
            return {};
    }
    return {};
}

RouteKind RouteTo(uint32_t ip) {
    int s = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (s < 0)
        return RouteKind::kNone;
    timeval wait{};
    wait.tv_sec = kReplyWaitMs / 1000;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);

    RouteRequest request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = 1;
    request.route.rtm_family = AF_INET;
    request.route.rtm_dst_len = 32;
    request.destinationHeader.rta_type = RTA_DST;
    request.destinationHeader.rta_len = RTA_LENGTH(sizeof(uint32_t));
    request.destination = ip;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;

    Route route;
    if (::sendto(s, &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&kernel),
                 sizeof kernel) == static_cast<ssize_t>(sizeof request)) {
        alignas(nlmsghdr) char reply[8192];
        ssize_t n;
        do {
            n = ::recv(s, reply, sizeof reply, 0);
        } while (n < 0 && errno == EINTR);
        if (n > 0)
            route = ParseRouteReply(reply, static_cast<size_t>(n));
    }
    ::close(s);
    if (route.kind == RouteKind::kOnLink && !UsesArp(route.interfaceIndex))
        return RouteKind::kOther;
    return route.kind;
}

}  // namespace ov::ident
