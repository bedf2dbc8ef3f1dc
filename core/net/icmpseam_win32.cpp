// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/icmpseam.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
// clang-format on

#include <cstring>

namespace corla {

namespace {

// One echo-reply record (40 bytes in a 64-bit build) and the 32 request bytes.
constexpr DWORD kReplyBufferSize = 72;

class EchoHandle
{
public:
    EchoHandle() : m_handle(IcmpCreateFile()) {}
    ~EchoHandle()
    {
        if (valid())
            IcmpCloseHandle(m_handle);
    }
    EchoHandle(const EchoHandle&) = delete;
    EchoHandle& operator=(const EchoHandle&) = delete;
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

} // namespace

EchoOutcome icmpEcho(const std::string& dottedAddress, uint32_t timeoutMs)
{
    EchoOutcome out;
    out.path = EchoPath::Platform;
    const unsigned long target = inet_addr(dottedAddress.c_str());
    EchoHandle handle;
    if (!handle.valid()) {
        out.errorCode = GetLastError();
        return out;
    }
    char request[kCorlaEchoDataSize];
    std::memcpy(request, kCorlaEchoData, sizeof request);
    // 8-byte units keep the reply record aligned.
    uint64_t reply[kReplyBufferSize / sizeof(uint64_t)] = {};
    const DWORD count = IcmpSendEcho(handle.get(), target, request, sizeof request, nullptr, reply,
                                     kReplyBufferSize, timeoutMs);
    if (count == 0) {
        out.errorCode = GetLastError();
        return out;
    }
    const auto* record = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply);
    in_addr source{};
    source.S_un.S_addr = record->Address;
    out.replyCount = count;
    out.replySource = inet_ntoa(source);
    out.status = record->Status;
    out.roundTripMs = record->RoundTripTime;
    return out;
}

} // namespace corla
