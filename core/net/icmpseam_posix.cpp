// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/icmpseam.h"
#include "core/net/uniquefd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/errqueue.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

namespace corla {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kDestUnreachable = 3;
constexpr uint8_t kTimeExceeded = 11;
constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::size_t kRequestSize = kIcmpHeaderSize + kCorlaEchoDataSize;
constexpr uint8_t kProtoIcmp = 1;

uint16_t readBe16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void writeBe16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

// Internet checksum; the result is written as it comes out (already in network order).
uint16_t internetChecksum(const uint8_t* data, std::size_t size)
{
    uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        sum += readBe16(data + i);
    if (size % 2)
        sum += static_cast<uint32_t>(data[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

// Concurrent echoes of this process (AddressCheck on the pool, the address search on the
// GUI thread) tell their replies apart by sequence number.
uint16_t nextSequence()
{
    static std::atomic<uint16_t> sequence{static_cast<uint16_t>(std::random_device{}())};
    return sequence.fetch_add(1, std::memory_order_relaxed);
}

void buildRequest(uint8_t* out, uint16_t identifier, uint16_t sequence)
{
    std::memset(out, 0, kRequestSize);
    out[0] = kEchoRequest;
    writeBe16(out + 4, identifier);
    writeBe16(out + 6, sequence);
    std::memcpy(out + kIcmpHeaderSize, kCorlaEchoData, kCorlaEchoDataSize);
    writeBe16(out + 2, internetChecksum(out, kRequestSize));
}

std::string dotted(const in_addr& addr)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, text, sizeof text);
    return text;
}

uint32_t elapsedMs(Clock::time_point since)
{
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// Waits for `events` on fd until the deadline. Returns the revents, or 0 at the deadline.
short waitUntil(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, events, 0};
        // Round up so that a sub-millisecond remainder still waits instead of spinning.
        const int rc = ::poll(&p, 1, left > 0 ? static_cast<int>(left) + 1 : 0);
        if (rc > 0)
            return p.revents;
        if (rc == 0 && Clock::now() >= deadline)
            return 0;
        if (rc < 0 && errno != EINTR)
            return 0;
    }
}

void recordReply(EchoOutcome* out, const in_addr& from, uint8_t type, uint8_t code,
                 Clock::time_point sent)
{
    out->replyCount = 1;
    out->replySource = dotted(from);
    out->status = type == kEchoReply ? 0u : static_cast<uint32_t>(type) << 8 | code;
    out->roundTripMs = elapsedMs(sent);
    out->errorCode = 0;
}

#ifdef __linux__
// An ICMP error about a datagram-socket echo arrives on the error queue, not as data.
// Returns true when it concerned our request and was recorded as its reply.
bool readErrorQueue(int fd, uint16_t sequence, Clock::time_point sent, EchoOutcome* out)
{
    uint8_t quoted[64];
    alignas(cmsghdr) char control[512];
    iovec iov{quoted, sizeof quoted};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (n < 0) {
        // A pending error without a queue entry would keep poll() waking us: read it off.
        int pending = 0;
        socklen_t len = sizeof pending;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &len);
        return false;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR)
            continue;
        const auto* ee = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
        if (ee->ee_origin != SO_EE_ORIGIN_ICMP) {
            out->errorCode = ee->ee_errno;
            continue;
        }
        // The queue hands back the ICMP header of the request that the error quotes.
        if (n < static_cast<ssize_t>(kIcmpHeaderSize) || quoted[0] != kEchoRequest ||
            readBe16(quoted + 6) != sequence)
            continue;
        const auto* offender = reinterpret_cast<const sockaddr_in*>(SO_EE_OFFENDER(ee));
        recordReply(out, offender->sin_addr, ee->ee_type, ee->ee_code, sent);
        return true;
    }
    return false;
}
#endif

// Sends the request and hands every wake-up of the socket to `onReadable` until it
// reports the reply or the limit has passed.
template <typename OnReadable>
void exchange(int fd, const uint8_t* request, const sockaddr_in& dest, uint32_t timeoutMs,
              EchoOutcome* out, OnReadable onReadable)
{
    const Clock::time_point sent = Clock::now();
    const Clock::time_point deadline = sent + std::chrono::milliseconds(timeoutMs);
    if (::sendto(fd, request, kRequestSize, 0, reinterpret_cast<const sockaddr*>(&dest),
                 sizeof dest) < 0) {
        out->errorCode = static_cast<uint32_t>(errno);
        return;
    }
    for (;;) {
        const short revents = waitUntil(fd, POLLIN, deadline);
        if (revents == 0)
            break;
        if (onReadable(revents, sent))
            return;
    }
    out->errorCode = ETIMEDOUT;
}

ssize_t receive(int fd, uint8_t* buffer, std::size_t size, sockaddr_in* from)
{
    socklen_t fromLen = sizeof *from;
    return ::recvfrom(fd, buffer, size, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(from), &fromLen);
}

// The kernel owns the identifier of a datagram-socket echo and delivers only the
// replies that carry it, so matching the sequence number is enough.
void echoViaDatagram(int fd, const sockaddr_in& dest, uint32_t timeoutMs, EchoOutcome* out)
{
    out->path = EchoPath::Datagram;
#ifdef __linux__
    const int on = 1;
    ::setsockopt(fd, SOL_IP, IP_RECVERR, &on, sizeof on);
#endif
    const uint16_t sequence = nextSequence();
    uint8_t request[kRequestSize];
    buildRequest(request, 0, sequence);
    exchange(fd, request, dest, timeoutMs, out, [&](short revents, Clock::time_point sent) {
#ifdef __linux__
        if ((revents & POLLERR) && readErrorQueue(fd, sequence, sent, out))
            return true;
#endif
        if (!(revents & POLLIN))
            return false;
        uint8_t reply[1500];
        sockaddr_in from{};
        const ssize_t n = receive(fd, reply, sizeof reply, &from);
        if (n < static_cast<ssize_t>(kIcmpHeaderSize) || reply[0] != kEchoReply ||
            readBe16(reply + 6) != sequence)
            return false;
        recordReply(out, from.sin_addr, kEchoReply, 0, sent);
        return true;
    });
}

// A raw socket sees every ICMP packet of the host: other processes' replies, our own
// request on loopback. Only an echo reply from the target with our identifier and
// sequence, or an ICMP error that quotes exactly our request, is ours.
bool isOurs(const uint8_t* packet, std::size_t size, const sockaddr_in& from,
            const sockaddr_in& dest, uint16_t identifier, uint16_t sequence)
{
    if (size < 20)
        return false;
    const std::size_t ipHeader = (packet[0] & 0x0fu) * 4u;
    if (size < ipHeader + kIcmpHeaderSize)
        return false;
    const uint8_t* icmp = packet + ipHeader;
    const auto matches = [&](const uint8_t* header) {
        return readBe16(header + 4) == identifier && readBe16(header + 6) == sequence;
    };
    if (icmp[0] == kEchoReply)
        return from.sin_addr.s_addr == dest.sin_addr.s_addr && matches(icmp);
    if (icmp[0] != kDestUnreachable && icmp[0] != kTimeExceeded)
        return false;
    const uint8_t* quotedIp = icmp + kIcmpHeaderSize;
    const std::size_t quotedLeft = size - ipHeader - kIcmpHeaderSize;
    if (quotedLeft < 20)
        return false;
    const std::size_t quotedIpHeader = (quotedIp[0] & 0x0fu) * 4u;
    if (quotedLeft < quotedIpHeader + kIcmpHeaderSize || quotedIp[9] != kProtoIcmp ||
        std::memcmp(quotedIp + 16, &dest.sin_addr.s_addr, 4) != 0)
        return false;
    const uint8_t* quotedIcmp = quotedIp + quotedIpHeader;
    return quotedIcmp[0] == kEchoRequest && matches(quotedIcmp);
}

void echoViaRaw(int fd, const sockaddr_in& dest, uint32_t timeoutMs, EchoOutcome* out)
{
    out->path = EchoPath::Raw;
    const uint16_t identifier = static_cast<uint16_t>(::getpid());
    const uint16_t sequence = nextSequence();
    uint8_t request[kRequestSize];
    buildRequest(request, identifier, sequence);
    exchange(fd, request, dest, timeoutMs, out, [&](short revents, Clock::time_point sent) {
        if (!(revents & POLLIN))
            return false;
        uint8_t packet[1500];
        sockaddr_in from{};
        const ssize_t n = receive(fd, packet, sizeof packet, &from);
        if (n <= 0 ||
            !isOurs(packet, static_cast<std::size_t>(n), from, dest, identifier, sequence))
            return false;
        const uint8_t* icmp = packet + (packet[0] & 0x0fu) * 4u;
        recordReply(out, from.sin_addr, icmp[0], icmp[1], sent);
        return true;
    });
}

} // namespace

EchoOutcome icmpEchoVia(EchoPath path, const std::string& dottedAddress, uint32_t timeoutMs)
{
    EchoOutcome out;
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    if ((path != EchoPath::Datagram && path != EchoPath::Raw) ||
        inet_pton(AF_INET, dottedAddress.c_str(), &dest.sin_addr) != 1) {
        out.errorCode = EINVAL;
        return out;
    }
    const int type = path == EchoPath::Datagram ? SOCK_DGRAM : SOCK_RAW;
    UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (fd.get() < 0) {
        out.errorCode = static_cast<uint32_t>(errno);
        return out;
    }
    if (path == EchoPath::Datagram)
        echoViaDatagram(fd.get(), dest, timeoutMs, &out);
    else
        echoViaRaw(fd.get(), dest, timeoutMs, &out);
    return out;
}

EchoOutcome icmpEcho(const std::string& dottedAddress, uint32_t timeoutMs)
{
    EchoOutcome out = icmpEchoVia(EchoPath::Datagram, dottedAddress, timeoutMs);
    // Unprivileged echo sockets are allowed only for the groups in
    // net.ipv4.ping_group_range (EACCES otherwise); a raw socket may still be granted.
    if (out.path == EchoPath::None && out.errorCode != EINVAL)
        out = icmpEchoVia(EchoPath::Raw, dottedAddress, timeoutMs);
    return out;
}

} // namespace corla
