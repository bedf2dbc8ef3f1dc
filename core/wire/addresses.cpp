// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/wire/addresses.h"

#include "core/wire/inetseam.h"

#include <cstdio>

namespace corla {

namespace {

uint32_t fromNetworkOrder(uint32_t n)
{
    const auto* b = reinterpret_cast<const uint8_t*>(&n);
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

void Ipv4Address::setAddress(const std::array<uint8_t, 4>& o)
{
    m_value = (uint32_t(o[0]) << 24) | (uint32_t(o[1]) << 16) | (uint32_t(o[2]) << 8) | o[3];
}

void Ipv4Address::setAddress(const std::string& text)
{
    uint32_t n = 0;
    // inet_pton stops at a NUL; an embedded one must not let "1.2.3.4\0junk" pass.
    if (text.find('\0') != std::string::npos || !inetPton4(text.c_str(), &n))
        m_value = 0;
    else
        m_value = fromNetworkOrder(n);
}

std::array<uint8_t, 4> Ipv4Address::toArray() const
{
    return {uint8_t(m_value >> 24), uint8_t(m_value >> 16), uint8_t(m_value >> 8),
            uint8_t(m_value)};
}

std::string Ipv4Address::toString() const
{
    const auto o = toArray();
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", o[0], o[1], o[2], o[3]);
    return buf;
}

uint32_t Ipv4Address::defaultMask(uint8_t firstOctet)
{
    if (firstOctet < 128)
        return 0xFF000000u;
    if (firstOctet < 192)
        return 0xFFFF0000u;
    return 0xFFFFFF00u;
}

void MacAddress::setOctets(const uint8_t* octets)
{
    for (size_t i = 0; i < m_octets.size(); ++i)
        m_octets[i] = octets[i];
}

bool MacAddress::isNull() const
{
    for (uint8_t o : m_octets)
        if (o != 0)
            return false;
    return true;
}

std::string MacAddress::toString() const
{
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", m_octets[5], m_octets[4],
                  m_octets[3], m_octets[2], m_octets[1], m_octets[0]);
    return buf;
}

bool MacAddress::parse(const std::string& text, MacAddress* out)
{
    if (text.size() != 17)
        return false;
    std::array<uint8_t, 6> octets{};
    for (int pair = 0; pair < 6; ++pair) {
        const size_t at = size_t(pair) * 3;
        const int hi = hexValue(text[at]);
        const int lo = hexValue(text[at + 1]);
        if (hi < 0 || lo < 0)
            return false;
        if (pair < 5 && text[at + 2] != ':' && text[at + 2] != '-')
            return false;
        octets[size_t(5 - pair)] = uint8_t(hi * 16 + lo);
    }
    *out = MacAddress(octets);
    return true;
}

bool NetworkSettings::operator==(const NetworkSettings& o) const
{
    return m_ip == o.m_ip && m_mask == o.m_mask && m_gateway == o.m_gateway && m_dns == o.m_dns &&
           m_mac == o.m_mac && m_mode == o.m_mode;
}

bool isValidSubnetMask(uint32_t mask)
{
    if (mask == 0xFFFFFFFFu)
        return false;
    // Ones then zeros: the inverted mask plus one is a power of two.
    const uint32_t inverted = ~mask;
    return (inverted & (inverted + 1)) == 0;
}

bool isValidHostFirstOctet(uint8_t firstOctet)
{
    return firstOctet >= 1 && firstOctet <= 223 && firstOctet != 127;
}

} // namespace corla
