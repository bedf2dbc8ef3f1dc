// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Value types for a device's network identity. Plain C++, no Qt: the wire codec,
// the fuzzer and the Windows cross build use them alone.
//
// Ipv4Address holds an IPv4 address as a host-order value: the first octet of the
// dotted text is the most significant byte. 0 means "no address"; a text that
// does not parse also yields 0.

#include <array>
#include <cstdint>
#include <string>

namespace corla {

class Ipv4Address
{
public:
    Ipv4Address(uint32_t value = 0) : m_value(value) {}
    explicit Ipv4Address(const std::array<uint8_t, 4>& octets) { setAddress(octets); }
    explicit Ipv4Address(const std::string& text) { setAddress(text); }
    explicit Ipv4Address(const char* text) { setAddress(std::string(text ? text : "")); }

    void setAddress(uint32_t value) { m_value = value; }
    // Network order: octets[0] becomes the top byte.
    void setAddress(const std::array<uint8_t, 4>& octets);
    // Exactly four decimal octets separated by dots; anything else stores 0.
    void setAddress(const std::string& text);

    uint32_t toInt() const { return m_value; }
    std::array<uint8_t, 4> toArray() const;
    std::string toString() const;

    bool operator==(const Ipv4Address& other) const { return m_value == other.m_value; }
    bool operator!=(const Ipv4Address& other) const { return m_value != other.m_value; }

    static Ipv4Address fromString(const std::string& text) { return Ipv4Address(text); }
    // Classful default: /8 below 128, /16 below 192, /24 above (224+ included).
    static uint32_t defaultMask(uint8_t firstOctet);

private:
    uint32_t m_value = 0;
};

class MacAddress
{
public:
    MacAddress() = default;
    // octets[0] becomes octet 0, the last pair of the text form.
    explicit MacAddress(const uint8_t* octets) { setOctets(octets); }
    explicit MacAddress(const std::array<uint8_t, 6>& octets) : m_octets(octets) {}

    void setOctets(const uint8_t* octets);
    const std::array<uint8_t, 6>& octets() const { return m_octets; }
    uint8_t octet(int index) const { return m_octets.at(static_cast<size_t>(index)); }
    bool isNull() const;

    // Octet 5 first, lower-case hex pairs joined by ':' (17 characters).
    std::string toString() const;
    // Accepts the text form in either case ("00:1a:2b:3c:4d:5e", '-' also allowed
    // as separator). Returns false and leaves *out alone on malformed text.
    static bool parse(const std::string& text, MacAddress* out);

    bool operator==(const MacAddress& other) const { return m_octets == other.m_octets; }
    bool operator!=(const MacAddress& other) const { return m_octets != other.m_octets; }

private:
    std::array<uint8_t, 6> m_octets{};
};

enum AddressMode : uint32_t
{
    AddressModeNotSet = 0,
    AddressModeDhcp = 1,   // DHCP
    AddressModeStatic = 2, // static
};

class NetworkSettings
{
public:
    NetworkSettings() = default;
    NetworkSettings(uint32_t ip) : m_ip(ip) {}
    NetworkSettings(const Ipv4Address& ip) : m_ip(ip) {}
    NetworkSettings(const Ipv4Address& ip, const Ipv4Address& mask, const Ipv4Address& gateway,
                    const Ipv4Address& dns, const MacAddress& mac, AddressMode mode)
        : m_ip(ip), m_mask(mask), m_gateway(gateway), m_dns(dns), m_mac(mac), m_mode(mode)
    {}
    // The decoder's form: host-order values, six MAC octets, the mode as one byte.
    NetworkSettings(uint32_t ip, uint32_t mask, uint32_t gateway, uint32_t dns, const uint8_t* mac,
                    uint8_t mode)
        : m_ip(ip), m_mask(mask), m_gateway(gateway), m_dns(dns), m_mac(mac),
          m_mode(static_cast<AddressMode>(mode))
    {}

    const Ipv4Address& ipAddress() const { return m_ip; }
    const Ipv4Address& subnetMask() const { return m_mask; }
    const Ipv4Address& gateway() const { return m_gateway; }
    Ipv4Address dns() const { return m_dns; }
    const MacAddress& macAddress() const { return m_mac; }
    AddressMode addressMode() const { return m_mode; }

    void setIpAddress(const Ipv4Address& ip) { m_ip = ip; }
    void setSubnet(const Ipv4Address& mask) { m_mask = mask; }
    void setGateway(const Ipv4Address& gateway) { m_gateway = gateway; }
    void setDns(const Ipv4Address& dns) { m_dns = dns; }
    void setMacAddress(const MacAddress& mac) { m_mac = mac; }
    void setMacAddress(const uint8_t* octets) { m_mac.setOctets(octets); }
    void setAddressMode(AddressMode mode) { m_mode = mode; }

    bool operator==(const NetworkSettings& other) const;
    bool operator!=(const NetworkSettings& other) const { return !(*this == other); }

private:
    Ipv4Address m_ip;
    Ipv4Address m_mask;
    Ipv4Address m_gateway;
    Ipv4Address m_dns;
    MacAddress m_mac;
    AddressMode m_mode = AddressModeNotSet;
};

// Entry rules shared by the network settings pane and the command line, so both refuse
// the same settings.
// A mask is a run of one bits (possibly empty) followed by at least one zero bit:
// 0.0.0.0 and 255.255.255.254 pass, 255.255.255.255 and 255.0.255.0 do not.
bool isValidSubnetMask(uint32_t mask);
// A device address must start with 1..223 and not 127 (no loopback, multicast or reserved).
bool isValidHostFirstOctet(uint8_t firstOctet);

} // namespace corla
