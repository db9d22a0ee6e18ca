#include "route.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
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

RouteKind KindOf(const nlmsghdr* h) {
    if (h->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg)))
        return RouteKind::kNone;
    const auto* r = static_cast<const rtmsg*>(NLMSG_DATA(h));
    if (r->rtm_type == RTN_LOCAL)
        return RouteKind::kLocal;
    if (r->rtm_type != RTN_UNICAST)
        return RouteKind::kOther;
    int length = static_cast<int>(RTM_PAYLOAD(h));
    for (const rtattr* a = RTM_RTA(r); RTA_OK(a, length); a = RTA_NEXT(a, length)) {
        if (a->rta_type == RTA_GATEWAY || a->rta_type == RTA_VIA || a->rta_type == RTA_MULTIPATH)
            return RouteKind::kViaGateway;
    }
    return RouteKind::kOnLink;
}

}  // namespace

RouteKind ParseRouteReply(const void* data, size_t size) {
    int length = static_cast<int>(std::min<size_t>(size, 1 << 20));
    for (auto* h = static_cast<const nlmsghdr*>(data); NLMSG_OK(h, length);
         h = NLMSG_NEXT(h, length)) {
        if (h->nlmsg_type == RTM_NEWROUTE)
            return KindOf(h);
        if (h->nlmsg_type == NLMSG_ERROR || h->nlmsg_type == NLMSG_DONE)
            return RouteKind::kNone;
    }
    return RouteKind::kNone;
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

    RouteKind kind = RouteKind::kNone;
    if (::sendto(s, &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&kernel),
                 sizeof kernel) == static_cast<ssize_t>(sizeof request)) {
        alignas(nlmsghdr) char reply[8192];
        ssize_t n;
        do {
            n = ::recv(s, reply, sizeof reply, 0);
        } while (n < 0 && errno == EINTR);
        if (n > 0)
            kind = ParseRouteReply(reply, static_cast<size_t>(n));
    }
    ::close(s);
    return kind;
}

}  // namespace ov::ident
