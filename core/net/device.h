// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Device records: one per instrument that answered a discovery enquiry.
//
// Device is a value type for every device type; what differs by type (name, web page, the
// lines of the debug dump) comes from the type's traits.
//
// The records carry firmware and status fields that only a device-status enquiry would
// fill; this program sends none, so they keep their defaults and show up in the debug
// dump only.

#include "core/net/devicetypes.h"
#include "core/wire/addresses.h"

#include <QMetaType>

#include <cstdint>
#include <memory>
#include <string>

namespace corla {

class DeviceId;

class Device
{
public:
    explicit Device(DeviceType type = DeviceType::NoDevice);
    Device(uint16_t serial, DeviceType type, const NetworkSettings& netHostInfo);
    Device(const Device&) = default;
    Device& operator=(const Device&) = default;
    Device(Device&&) = default;
    Device& operator=(Device&&) = default;

    bool hasWebPage() const { return deviceTypeTraits(m_devType).hasWebPage; }
    std::string toString() const;
    // Type name, " #", serial in decimal: "Nerio HF #1234".
    std::string friendlyName() const;

    uint16_t serial() const { return m_serial; }
    void setSerial(uint16_t serial) { m_serial = serial; }
    DeviceType devType() const { return m_devType; }
    std::string firmwareVer() const { return m_firmwareVer; }
    void setFirmwareVer(const std::string& ver) { m_firmwareVer = ver; }
    AcquisitionState status() const { return m_status; }
    void setStatus(AcquisitionState status) { m_status = status; }
    const NetworkSettings& netHostInfo() const { return m_netHostInfo; }
    void setNetHostInfo(const NetworkSettings& info) { m_netHostInfo = info; }
    uint8_t enqVersion() const { return m_enqVersion; }
    void setEnqVersion(uint8_t ver) { m_enqVersion = ver; }
    std::string buildDate() const { return m_buildDate; }
    void setBuildDate(const std::string& date) { m_buildDate = date; }
    Ipv4Address commsIfaceAddr() const { return m_commsIfaceAddr; }
    void setCommsIfaceAddr(const Ipv4Address& addr) { m_commsIfaceAddr = addr; }
    // Where the answer behind this record came from (0 and port 0 when not from an answer).
    // Two answers for one MAC address from different senders point at a duplicate MAC
    // address or a forged answer; the local address stays in commsIfaceAddr.
    Ipv4Address answeredFrom() const { return m_answeredFrom; }
    void setAnsweredFrom(const Ipv4Address& sender) { m_answeredFrom = sender; }
    quint16 answeredFromPort() const { return m_answeredFromPort; }
    void setAnsweredFromPort(quint16 port) { m_answeredFromPort = port; }
    int32_t timeUtc() const { return m_timeUtc; }
    void setTimeUtc(const int32_t& time) { m_timeUtc = time; }
    Reachability netStat() const { return m_netStat; }
    void setNetStat(const Reachability& stat) { m_netStat = stat; }
    PortState cncPortStatus() const { return m_cncPortStatus; }
    void setCncPortStatus(const PortState& stat) { m_cncPortStatus = stat; }

    void setDevType(DeviceType type) { m_devType = type; }

    // Fields of the device-status answer (hydrophones, host controllers, recorders).
    uint8_t hardwareRev() const { return m_hardwareRev; }
    void setHardwareRev(uint8_t rev) { m_hardwareRev = rev; }
    std::string firmwareRel() const { return m_firmwareRel; }
    void setFirmwareRel(const std::string& rel) { m_firmwareRel = rel; }
    std::string modelString() const { return m_modelString; }
    void setModelString(const std::string& model) { m_modelString = model; }
    DeviceId deviceId() const;

    // Type and serial only; the device list identifies rows by MAC address instead.
    bool operator==(const Device& other) const;
    bool operator!=(const Device& other) const { return !(*this == other); }

private:
    uint16_t m_serial = 0;
    DeviceType m_devType = DeviceType::NoDevice;
    std::string m_firmwareVer = "n/a";
    std::string m_buildDate = "n/a";
    AcquisitionState m_status = AcquisitionState::NotReady;
    uint8_t m_enqVersion = 0;
    int32_t m_timeUtc = 0;
    NetworkSettings m_netHostInfo;
    Reachability m_netStat = Reachability::NotFound;
    PortState m_cncPortStatus = PortState::Unknown;
    Ipv4Address m_commsIfaceAddr;
    Ipv4Address m_answeredFrom;
    quint16 m_answeredFromPort = 0;
    uint8_t m_hardwareRev = 0;
    std::string m_firmwareRel = "n/a";
    std::string m_modelString = "Unknown";
};

// Names a device by type and serial number.
class DeviceId
{
public:
    DeviceId() = default;
    DeviceId(DeviceType type, uint16_t serial) : m_devType(type), m_serialNo(serial) {}
    explicit DeviceId(const Device& device)
        : m_devType(device.devType()), m_serialNo(device.serial())
    {}

    DeviceType devType() const { return m_devType; }
    uint16_t serialNo() const { return m_serialNo; }
    std::string friendlyName() const;

    bool operator==(const DeviceId& other) const
    {
        return m_devType == other.m_devType && m_serialNo == other.m_serialNo;
    }
    bool operator!=(const DeviceId& other) const { return !(*this == other); }
    // By type as a signed code, then by serial.
    bool operator<(const DeviceId& other) const;

private:
    DeviceType m_devType = DeviceType::NoDevice;
    uint16_t m_serialNo = 0;
};

// Types that travel in queued signals and QSignalSpy arguments. Registration by
// name happens when the program starts; calling it again is harmless.
void registerMetaTypes();

} // namespace corla

Q_DECLARE_METATYPE(corla::Device)
Q_DECLARE_METATYPE(corla::DevicePort)
Q_DECLARE_METATYPE(corla::Reachability)
Q_DECLARE_METATYPE(corla::PortState)
Q_DECLARE_METATYPE(corla::Ipv4Address)
Q_DECLARE_METATYPE(corla::MacAddress)
Q_DECLARE_METATYPE(corla::NetworkSettings)
Q_DECLARE_METATYPE(std::shared_ptr<corla::Device>)
