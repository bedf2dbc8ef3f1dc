// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// Device records: one per instrument that answered a discovery enquiry.
//
// TevDevice is both the polymorphic base and a value type. Copying a subclass
// record through a TevDevice reference keeps the base fields only (serial, type,
// network settings, interface address, answering sender, reachability), which is all
// the port checker, the duplicate-address check and the configuration dialog need.
//
// The records carry firmware and status fields that only a device-status enquiry would
// fill; this program sends none, so they keep their defaults and show up in the debug
// dump only.

#include "tevnethost.h"
#include "zelutil.h"

#include <QMetaType>

#include <cstdint>
#include <memory>
#include <string>

class ZelDeviceId;

class TevDevice
{
public:
    explicit TevDevice(ZelDeviceType type = ZelDeviceType::NoDevice);
    TevDevice(uint16_t serial, ZelDeviceType type, const TevNetHostInfo& netHostInfo);
    TevDevice(const TevDevice&) = default;
    TevDevice& operator=(const TevDevice&) = default;
    TevDevice(TevDevice&&) = default;
    TevDevice& operator=(TevDevice&&) = default;
    virtual ~TevDevice();

    // The record class fitting the type code; never empty.
    static std::shared_ptr<TevDevice> createDevice(ZelDeviceType type);

    virtual bool hasWebserver() const;
    virtual std::string toString() const;
    // Type name, " #", serial in decimal: "Nerio HF #1234".
    virtual std::string friendlyName() const;

    virtual uint16_t serial() const { return m_serial; }
    virtual void setSerial(uint16_t serial) { m_serial = serial; }
    virtual ZelDeviceType devType() const { return m_devType; }
    virtual std::string firmwareVer() const { return m_firmwareVer; }
    virtual void setFirmwareVer(const std::string& ver) { m_firmwareVer = ver; }
    virtual ZelDeviceStatus status() const { return m_status; }
    virtual void setStatus(ZelDeviceStatus status) { m_status = status; }
    virtual const TevNetHostInfo& netHostInfo() const { return m_netHostInfo; }
    virtual void setNetHostInfo(const TevNetHostInfo& info) { m_netHostInfo = info; }
    virtual uint8_t enqVersion() const { return m_enqVersion; }
    virtual void setEnqVersion(uint8_t ver) { m_enqVersion = ver; }
    virtual std::string buildDate() const { return m_buildDate; }
    virtual void setBuildDate(const std::string& date) { m_buildDate = date; }
    virtual TevIpAddr commsIfaceAddr() const { return m_commsIfaceAddr; }
    virtual void setCommsIfaceAddr(const TevIpAddr& addr) { m_commsIfaceAddr = addr; }
    // Where the answer behind this record came from (0 and port 0 when not from an answer).
    // Two answers for one MAC address from different senders point at a duplicate MAC
    // address or a forged answer; the local address stays in commsIfaceAddr.
    TevIpAddr answeredFrom() const { return m_answeredFrom; }
    void setAnsweredFrom(const TevIpAddr& sender) { m_answeredFrom = sender; }
    quint16 answeredFromPort() const { return m_answeredFromPort; }
    void setAnsweredFromPort(quint16 port) { m_answeredFromPort = port; }
    virtual int32_t timeUtc() const { return m_timeUtc; }
    virtual void setTimeUtc(const int32_t& time) { m_timeUtc = time; }
    virtual ZelNetworkStatus netStat() const { return m_netStat; }
    virtual void setNetStat(const ZelNetworkStatus& stat) { m_netStat = stat; }
    virtual ZelPortConnStatus cncPortStatus() const { return m_cncPortStatus; }
    virtual void setCncPortStatus(const ZelPortConnStatus& stat) { m_cncPortStatus = stat; }

    void setDevType(ZelDeviceType type) { m_devType = type; }
    ZelDeviceId deviceId() const;

    // Type and serial only; the device list identifies rows by MAC address instead.
    bool operator==(const TevDevice& other) const;
    bool operator!=(const TevDevice& other) const { return !(*this == other); }

private:
    uint16_t m_serial = 0;
    ZelDeviceType m_devType = ZelDeviceType::NoDevice;
    std::string m_firmwareVer = "n/a";
    std::string m_buildDate = "n/a";
    ZelDeviceStatus m_status = ZelDeviceStatus::NotReady;
    uint8_t m_enqVersion = 0;
    int32_t m_timeUtc = 0;
    TevNetHostInfo m_netHostInfo;
    ZelNetworkStatus m_netStat = ZelNetworkStatus::NotFound;
    ZelPortConnStatus m_cncPortStatus = ZelPortConnStatus::Unknown;
    TevIpAddr m_commsIfaceAddr;
    TevIpAddr m_answeredFrom;
    quint16 m_answeredFromPort = 0;
};

// Hydrophone-class instruments (Nerio HF, Nerio AF, Dorvi).
class ZelDevice : public TevDevice
{
public:
    // Both constructors of the base, with its defaults; own fields take theirs.
    using TevDevice::TevDevice;
    ~ZelDevice() override;

    std::string toString() const override;

    virtual uint8_t hardwareRev() const { return m_hardwareRev; }
    virtual void setHardwareRev(uint8_t rev) { m_hardwareRev = rev; }
    virtual std::string firmwareRel() const { return m_firmwareRel; }
    virtual void setFirmwareRel(const std::string& rel) { m_firmwareRel = rel; }
    virtual std::string modelString() const { return m_modelString; }
    virtual void setModelString(const std::string& model) { m_modelString = model; }

private:
    uint8_t m_hardwareRev = 0;
    std::string m_firmwareRel = "n/a";
    std::string m_modelString = "Unknown";
};

// Host-controller-class instruments (Host Controller, KWT).
class HciDevice : public TevDevice
{
public:
    using TevDevice::TevDevice;
    ~HciDevice() override;

    std::string toString() const override;

    virtual uint8_t hardwareRev() const { return m_hardwareRev; }
    virtual void setHardwareRev(uint8_t rev) { m_hardwareRev = rev; }
    virtual std::string firmwareRel() const { return m_firmwareRel; }
    virtual void setFirmwareRel(const std::string& rel) { m_firmwareRel = rel; }

private:
    uint8_t m_hardwareRev = 0;
    std::string m_firmwareRel = "n/a";
};

// Smart recorders (type 13, shown as "Battery Pack").
class SmRecDevice : public TevDevice
{
public:
    using TevDevice::TevDevice;
    ~SmRecDevice() override;

    std::string toString() const override;

    virtual uint8_t hardwareRev() const { return m_hardwareRev; }
    virtual void setHardwareRev(uint8_t rev) { m_hardwareRev = rev; }
    virtual std::string modelString() const { return m_modelString; }
    virtual void setModelString(const std::string& model) { m_modelString = model; }

private:
    uint8_t m_hardwareRev = 0;
    std::string m_modelString;
};

// Names a device by type and serial number.
class ZelDeviceId
{
public:
    ZelDeviceId() = default;
    ZelDeviceId(ZelDeviceType type, uint16_t serial) : m_devType(type), m_serialNo(serial) {}
    explicit ZelDeviceId(const TevDevice& device)
        : m_devType(device.devType()), m_serialNo(device.serial())
    {}

    ZelDeviceType devType() const { return m_devType; }
    uint16_t serialNo() const { return m_serialNo; }
    std::string friendlyName() const;

    bool operator==(const ZelDeviceId& other) const
    {
        return m_devType == other.m_devType && m_serialNo == other.m_serialNo;
    }
    bool operator!=(const ZelDeviceId& other) const { return !(*this == other); }
    // By type as a signed code, then by serial.
    bool operator<(const ZelDeviceId& other) const;

private:
    ZelDeviceType m_devType = ZelDeviceType::NoDevice;
    uint16_t m_serialNo = 0;
};

// Types that travel in queued signals and QSignalSpy arguments. Registration by
// name happens when the program starts; calling it again is harmless.
void registerCorlaMetaTypes();

Q_DECLARE_METATYPE(TevDevice)
Q_DECLARE_METATYPE(ZelPort)
Q_DECLARE_METATYPE(ZelNetworkStatus)
Q_DECLARE_METATYPE(ZelPortConnStatus)
Q_DECLARE_METATYPE(TevIpAddr)
Q_DECLARE_METATYPE(TevMacAddr)
Q_DECLARE_METATYPE(TevNetHostInfo)
Q_DECLARE_METATYPE(std::shared_ptr<TevDevice>)
Q_DECLARE_METATYPE(std::shared_ptr<ZelDevice>)
