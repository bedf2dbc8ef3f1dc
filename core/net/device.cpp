// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/device.h"

#include <locale>
#include <sstream>

namespace corla {

namespace {

std::ostringstream dumpStream()
{
    std::ostringstream out;
    // A global locale with digit grouping must not turn serial 1234 into "1,234".
    out.imbue(std::locale::classic());
    return out;
}

// The lines every dump shares after its own leading lines.
void dumpCommon(std::ostream& out, const Device& dev)
{
    out << "FirmwareVer: " << dev.firmwareVer() << "\n"
        << "Build Date: " << dev.buildDate() << "\n"
        << "Device Type: " << static_cast<int>(dev.devType()) << "\n"
        << "Status: " << static_cast<int>(dev.status()) << "\n"
        << "Enq.Version: " << static_cast<int>(dev.enqVersion()) << "\n";
}

// Link type, sensor and battery readings come only with a device-status answer, which
// this program never asks for: the dumps show them as the 0 they would start from.
constexpr int NotRead = 0;

std::string friendlyText(DeviceType type, uint16_t serial)
{
    return DeviceTexts::deviceTypeStr(type) + " #" + std::to_string(serial);
}

[[maybe_unused]] const bool metaTypesRegistered = (registerMetaTypes(), true);

} // namespace

Device::Device(DeviceType type) : m_devType(type) {}

Device::Device(uint16_t serial, DeviceType type, const NetworkSettings& netHostInfo)
    : m_serial(serial), m_devType(type), m_netHostInfo(netHostInfo)
{}

std::string Device::friendlyName() const
{
    return friendlyText(devType(), serial());
}

DeviceId Device::deviceId() const
{
    return DeviceId(*this);
}

bool Device::operator==(const Device& other) const
{
    return devType() == other.devType() && serial() == other.serial();
}

std::string Device::toString() const
{
    auto out = dumpStream();
    switch (deviceTypeTraits(devType()).family) {
    case DeviceFamily::Generic:
        out << "----------- TevDevice ---------- \n"
            << "Serial: " << serial() << "\n";
        dumpCommon(out, *this);
        break;
    case DeviceFamily::Hydrophone:
        out << "----------- ZelDevice ---------- \n"
            << "Serial: " << serial() << "\n"
            << "Link type: " << NotRead << "\n";
        dumpCommon(out, *this);
        out << "Sensitivity: " << NotRead << "\n"
            << "FirmwareRel: " << firmwareRel() << "\n"
            << "Model: " << modelString() << "\n"
            << "Temperature: " << NotRead << "\n"
            << "Batt Stat: " << NotRead << "\n"
            << "Batt %: " << NotRead << "\n";
        break;
    case DeviceFamily::HostController:
        out << "----------- HciDevice ---------- "
            << "Serial: " << serial() << "\n"
            << "Link type: " << NotRead << "\n";
        dumpCommon(out, *this);
        out << "FirmwareRel: " << firmwareRel() << "\n";
        break;
    case DeviceFamily::Recorder:
        out << "----------- SmRecDevice ---------- "
            << "Serial: " << serial() << "\n"
            << "Link type: " << NotRead << "\n";
        dumpCommon(out, *this);
        break;
    }
    out << "\n";
    return out.str();
}

std::string DeviceId::friendlyName() const
{
    return friendlyText(m_devType, m_serialNo);
}

bool DeviceId::operator<(const DeviceId& other) const
{
    if (m_devType != other.m_devType)
        return static_cast<int8_t>(m_devType) < static_cast<int8_t>(other.m_devType);
    return m_serialNo < other.m_serialNo;
}

void registerMetaTypes()
{
    qRegisterMetaType<Device>("Device");
    qRegisterMetaType<DevicePort>("DevicePort");
    qRegisterMetaType<Reachability>("Reachability");
    qRegisterMetaType<PortState>("PortState");
    qRegisterMetaType<Ipv4Address>("Ipv4Address");
    qRegisterMetaType<MacAddress>("MacAddress");
    qRegisterMetaType<NetworkSettings>("NetworkSettings");
    qRegisterMetaType<std::shared_ptr<Device>>("std::shared_ptr<Device>");
    // The adapter's error codes travel as int16_t.
    qRegisterMetaType<int16_t>("int16_t");
}

} // namespace corla
