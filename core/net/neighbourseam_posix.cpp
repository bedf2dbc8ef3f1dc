// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/neighbourseam.h"

#ifdef __linux__
#include "core/net/uniquefd.h"

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#endif

namespace corla {

#ifdef __linux__
namespace {

// A dump that takes longer than this is not waited for: the address counts as absent.
constexpr int kReplyLimitMs = 1000;

struct StateName
{
    uint16_t nud;
    const char* name;
    NeighbourState state;
};

// NOARP entries (broadcast, point-to-point links) say nothing about a host being there.
constexpr StateName kStates[] = {
    {NUD_REACHABLE, "REACHABLE", NeighbourState::Confirmed},
    {NUD_PERMANENT, "PERMANENT", NeighbourState::Confirmed},
    {NUD_STALE, "STALE", NeighbourState::SeenLately},
    {NUD_DELAY, "DELAY", NeighbourState::SeenLately},
    {NUD_PROBE, "PROBE", NeighbourState::SeenLately},
    {NUD_INCOMPLETE, "INCOMPLETE", NeighbourState::Absent},
    {NUD_FAILED, "FAILED", NeighbourState::Absent},
    {NUD_NOARP, "NOARP", NeighbourState::Absent},
};

Neighbour entryFor(uint16_t nud)
{
    Neighbour entry;
    entry.stateName = "NONE";
    for (const StateName& s : kStates) {
        if (nud & s.nud) {
            entry.stateName = s.name;
            entry.state = s.state;
            break;
        }
    }
    return entry;
}

// An entry counts over another when it says more: confirmed over seen lately over absent,
// and any entry over none.
bool moreDefinite(const Neighbour& a, const Neighbour& b)
{
    if (a.state != b.state)
        return a.state > b.state;
    return !a.stateName.empty() && b.stateName.empty();
}

// The body of one RTM_NEWNEIGH message: an ndmsg, then attributes.
void readEntry(const uint8_t* body, std::size_t size, const std::array<uint8_t, 4>& address,
               Neighbour* best)
{
    ndmsg nd;
    if (size < sizeof nd)
        return;
    std::memcpy(&nd, body, sizeof nd);
    if (nd.ndm_family != AF_INET)
        return;
    Neighbour entry = entryFor(nd.ndm_state);
    bool matches = false;
    std::size_t offset = NLMSG_ALIGN(sizeof nd);
    while (offset + sizeof(rtattr) <= size) {
        rtattr attr;
        std::memcpy(&attr, body + offset, sizeof attr);
        if (attr.rta_len < sizeof attr || attr.rta_len > size - offset)
            return;
        const uint8_t* value = body + offset + RTA_LENGTH(0);
        const std::size_t length = attr.rta_len - RTA_LENGTH(0);
        if (attr.rta_type == NDA_DST && length == address.size())
            matches = std::memcmp(value, address.data(), address.size()) == 0;
        if (attr.rta_type == NDA_LLADDR && length == entry.linkAddress.size()) {
            std::memcpy(entry.linkAddress.data(), value, length);
            entry.hasLinkAddress = true;
        }
        offset += RTA_ALIGN(attr.rta_len);
    }
    if (matches && moreDefinite(entry, *best))
        *best = entry;
}

} // namespace

bool parseNeighbourDump(const uint8_t* data, std::size_t size,
                        const std::array<uint8_t, 4>& address, Neighbour* best, int* error)
{
    std::size_t offset = 0;
    while (offset + sizeof(nlmsghdr) <= size) {
        nlmsghdr header;
        std::memcpy(&header, data + offset, sizeof header);
        if (header.nlmsg_len < sizeof header || header.nlmsg_len > size - offset) {
            *error = EBADMSG;
            return false;
        }
        const uint8_t* body = data + offset + NLMSG_HDRLEN;
        const std::size_t bodySize = header.nlmsg_len - NLMSG_HDRLEN;
        switch (header.nlmsg_type) {
        case NLMSG_DONE:
            return false;
        case NLMSG_ERROR: {
            nlmsgerr failure{};
            std::memcpy(&failure, body, std::min(bodySize, sizeof failure));
            *error = failure.error < 0 ? -failure.error : EBADMSG;
            return false;
        }
        case RTM_NEWNEIGH:
            readEntry(body, bodySize, address, best);
            break;
        default:
            break;
        }
        offset += NLMSG_ALIGN(header.nlmsg_len);
    }
    return true;
}

Neighbour neighbourOf(const std::string& dottedAddress)
{
    Neighbour best;
    std::array<uint8_t, 4> address{};
    if (inet_pton(AF_INET, dottedAddress.c_str(), address.data()) != 1) {
        best.errorCode = EINVAL;
        return best;
    }
    UniqueFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (fd.get() < 0) {
        best.errorCode = static_cast<uint32_t>(errno);
        return best;
    }
    const timeval limit{kReplyLimitMs / 1000, (kReplyLimitMs % 1000) * 1000};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);

    struct
    {
        nlmsghdr header;
        ndmsg nd;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof request.nd);
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.nd.ndm_family = AF_INET;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd.get(), &request, request.header.nlmsg_len, 0,
                 reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) < 0) {
        best.errorCode = static_cast<uint32_t>(errno);
        return best;
    }
    // The kernel fills a dump's datagrams up to 32 KiB when the reader takes that much.
    alignas(nlmsghdr) uint8_t buffer[32768];
    for (;;) {
        const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            best = Neighbour();
            best.errorCode = n < 0 ? static_cast<uint32_t>(errno) : EPIPE;
            return best;
        }
        int error = 0;
        if (!parseNeighbourDump(buffer, static_cast<std::size_t>(n), address, &best, &error)) {
            if (error != 0) {
                best = Neighbour();
                best.errorCode = static_cast<uint32_t>(error);
            }
            return best;
        }
    }
}

#else

// No neighbour table to read: every address counts as absent.
Neighbour neighbourOf(const std::string&)
{
    return Neighbour();
}

#endif

} // namespace corla
