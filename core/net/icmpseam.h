// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// One ICMP echo request, behind a seam without Qt: the POSIX build sends it through
// an ICMP socket, the Win32 build through the platform's echo interface. The Qt side
// (HostPing) only reads the outcome and writes the log line.
#include <cstddef>
#include <cstdint>
#include <string>

namespace corla {

// The request's 32 data bytes: "Data Buffer" and 21 zero bytes.
constexpr std::size_t kCorlaEchoDataSize = 32;
inline constexpr uint8_t kCorlaEchoData[kCorlaEchoDataSize] = {'D', 'a', 't', 'a', ' ', 'B',
                                                               'u', 'f', 'f', 'e', 'r'};

enum class EchoPath : uint8_t
{
    None,     // nothing could be sent
    Datagram, // unprivileged ICMP datagram socket (Linux)
    Raw,      // raw ICMP socket, when the datagram socket is not permitted
    Platform, // the Win32 echo interface
};

struct EchoOutcome
{
    // Replies that came back within the limit (0 or 1 on POSIX).
    uint32_t replyCount = 0;
    // Of the first reply: who sent it (dotted text), its status and round-trip time.
    // The status is 0 for an echo reply. On POSIX an ICMP error that quotes our request
    // (destination unreachable, time exceeded) also counts as a reply; its status is
    // type * 256 + code. On Win32 it is the platform's IP_STATUS value.
    std::string replySource;
    uint32_t status = 0;
    uint32_t roundTripMs = 0;
    // Without a reply: why not, as the platform's error number (errno on POSIX,
    // GetLastError() on Win32). A reply that did not come in time is ETIMEDOUT on POSIX.
    uint32_t errorCode = 0;
    EchoPath path = EchoPath::None;
};

// Sends one echo request to the dotted IPv4 address and blocks until a reply arrives
// or timeoutMs have passed. Thread-safe; keeps nothing between calls.
EchoOutcome icmpEcho(const std::string& dottedAddress, uint32_t timeoutMs);

#ifndef _WIN32
// The echo through one given kind of ICMP socket. icmpEcho tries the datagram
// socket and falls back to the raw socket when the system refuses the first; this
// lets a caller (a test, a diagnosis) take one path on purpose. `path` is Datagram or
// Raw; the outcome's path stays None when the socket could not be opened.
EchoOutcome icmpEchoVia(EchoPath path, const std::string& dottedAddress, uint32_t timeoutMs);
#endif

} // namespace corla
