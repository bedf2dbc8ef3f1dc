// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// What the wire fuzzers share: failing loudly, a cheap size generator, and the fields a
// decoded message carries, read through the payload classes rather than the codec.
#pragma once

#include "core/wire/codec.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace corla::fuzz {

[[noreturn]] inline void broken(const char* what, const std::string& detail = std::string())
{
    std::fprintf(stderr, "invariant broken: %s%s%s\n", what, detail.empty() ? "" : ": ",
                 detail.c_str());
    std::abort();
}

inline void check(bool ok, const char* what)
{
    if (!ok)
        broken(what);
}

// xorshift32 seeded from one input byte: piece sizes follow the input, not a clock.
class Generator
{
public:
    explicit Generator(uint8_t seed) : m_state(0x9E3779B9u ^ (uint32_t(seed) * 0x01000193u)) {}
    uint32_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }

private:
    uint32_t m_state;
};

// What one message carries; fields a layout lacks stay zero on both sides.
struct Fields
{
    uint8_t code = 0, type = 0, mode = 0;
    uint16_t serial = 0, port = 0;
    int16_t error = 0;
    std::array<uint8_t, 6> mac{};
    uint32_t ip = 0, mask = 0, gateway = 0, dns = 0;

    bool operator==(const Fields& o) const
    {
        return code == o.code && type == o.type && serial == o.serial && mac == o.mac &&
               port == o.port && error == o.error && mode == o.mode && ip == o.ip &&
               mask == o.mask && gateway == o.gateway && dns == o.dns;
    }
    std::string describe() const
    {
        char text[160];
        std::snprintf(text, sizeof text,
                      "%02X type %u serial %u mac %02x:%02x:%02x:%02x:%02x:%02x error %d mode %u "
                      "ip %08X mask %08X gw %08X dns %08X",
                      code, type, serial, mac[5], mac[4], mac[3], mac[2], mac[1], mac[0], error,
                      mode, ip, mask, gateway, dns);
        return text;
    }
};

inline Fields decoded(const MessagePayload* p)
{
    check(p != nullptr, "message without payload");
    Fields f;
    f.code = p->commandCode();
    f.port = p->responsePort();
    if (const auto* id = dynamic_cast<const IdentityPayload*>(p)) {
        const NetworkSettings& n = id->netInfo();
        f.type = id->deviceType();
        f.serial = id->serialNo();
        f.mac = n.macAddress().octets();
        f.mode = uint8_t(n.addressMode());
        f.ip = n.ipAddress().toInt();
        f.mask = n.subnetMask().toInt();
        f.gateway = n.gateway().toInt();
        f.dns = n.dns().toInt();
    } else if (const auto* reset = dynamic_cast<const ResetMessage*>(p)) {
        f.mac = reset->macAddress().octets();
    } else {
        broken("unknown payload handed on");
    }
    if (const auto* change = dynamic_cast<const ChangeMessage*>(p))
        f.error = change->error();
    return f;
}

} // namespace corla::fuzz
