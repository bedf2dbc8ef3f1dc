// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "zeldevice.h"

#include <locale>
#include <sstream>

namespace {

std::ostringstream dumpStream()
{
    std::ostringstream out;
    // A global locale with digit grouping must not turn serial 1234 into "1,234".
    out.imbue(std::locale::classic());
    return out;
}

// The lines every dump shares after its own leading lines.
void dumpCommon(std::ostream& out, const TevDevice& dev)
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

std::string friendlyText(ZelDeviceType type, uint16_t serial)
{
    return ZelUtil::deviceTypeStr(type) + " #" + std::to_string(serial);
}

[[maybe_unused]] const bool metaTypesRegistered = (registerCorlaMetaTypes(), true);

} // namespace

TevDevice::TevDevice(ZelDeviceType type) : m_devType(type) {}

TevDevice::TevDevice(uint16_t serial, ZelDeviceType type, const TevNetHostInfo& netHostInfo)
    : m_serial(serial), m_devType(type), m_netHostInfo(netHostInfo)
{}

TevDevice::~TevDevice() = default;

std::shared_ptr<TevDevice> TevDevice::createDevice(ZelDeviceType type)
{
    switch (type) {
    case ZelDeviceType::NerioHF:
    case ZelDeviceType::NerioAF:
    case ZelDeviceType::Dorvi:
        return std::make_shared<ZelDevice>(type);
    case ZelDeviceType::HostController:
    case ZelDeviceType::KWT:
        return std::make_shared<HciDevice>(type);
    case ZelDeviceType::BatteryPack:
        return std::make_shared<SmRecDevice>(type);
    default:
        return std::make_shared<TevDevice>(type);
    }
}

bool TevDevice::hasWebserver() const
{
    switch (static_cast<uint8_t>(m_devType)) {
    case 5:
    case 7:
    case 8:
    case 16:
        return true;
    default:
        return false;
    }
}

std::string TevDevice::toString() const
{
    auto out = dumpStream();
    out << "----------- TevDevice ---------- \n"
        << "Serial: " << serial() << "\n";
    dumpCommon(out, *this);
    out << "\n";
    return out.str();
}

std::string TevDevice::friendlyName() const
{
    return friendlyText(devType(), serial());
}

ZelDeviceId TevDevice::deviceId() const
{
    return ZelDeviceId(*this);
}

bool TevDevice::operator==(const TevDevice& other) const
{
    return devType() == other.devType() && serial() == other.serial();
}

ZelDevice::~ZelDevice() = default;

std::string ZelDevice::toString() const
{
    auto out = dumpStream();
    out << "----------- ZelDevice ---------- \n"
        << "Serial: " << serial() << "\n"
        << "Link type: " << NotRead << "\n";
    dumpCommon(out, *this);
    out << "Sensitivity: " << NotRead << "\n"
        << "FirmwareRel: " << firmwareRel() << "\n"
        << "Model: " << modelString() << "\n"
        << "Temperature: " << NotRead << "\n"
        << "Batt Stat: " << NotRead << "\n"
        << "Batt %: " << NotRead << "\n"
        << "\n";
    return out.str();
}

HciDevice::~HciDevice() = default;

std::string HciDevice::toString() const
{
    auto out = dumpStream();
    out << "----------- HciDevice ---------- "
        << "Serial: " << serial() << "\n"
        << "Link type: " << NotRead << "\n";
    dumpCommon(out, *this);
    out << "FirmwareRel: " << firmwareRel() << "\n"
        << "\n";
    return out.str();
}

SmRecDevice::~SmRecDevice() = default;

std::string SmRecDevice::toString() const
{
    auto out = dumpStream();
    out << "----------- SmRecDevice ---------- "
        << "Serial: " << serial() << "\n"
        << "Link type: " << NotRead << "\n";
    dumpCommon(out, *this);
    out << "\n";
    return out.str();
}

std::string ZelDeviceId::friendlyName() const
{
    return friendlyText(m_devType, m_serialNo);
}

bool ZelDeviceId::operator<(const ZelDeviceId& other) const
{
    if (m_devType != other.m_devType)
        return static_cast<int8_t>(m_devType) < static_cast<int8_t>(other.m_devType);
    return m_serialNo < other.m_serialNo;
}

void registerCorlaMetaTypes()
{
    qRegisterMetaType<TevDevice>("TevDevice");
    qRegisterMetaType<ZelPort>("ZelPort");
    qRegisterMetaType<ZelNetworkStatus>("ZelNetworkStatus");
    qRegisterMetaType<ZelPortConnStatus>("ZelPortConnStatus");
    qRegisterMetaType<TevIpAddr>("TevIpAddr");
    qRegisterMetaType<TevMacAddr>("TevMacAddr");
    qRegisterMetaType<TevNetHostInfo>("TevNetHostInfo");
    qRegisterMetaType<std::shared_ptr<TevDevice>>("std::shared_ptr<TevDevice>");
    qRegisterMetaType<std::shared_ptr<ZelDevice>>("std::shared_ptr<ZelDevice>");
    // The adapter's error codes travel as int16_t.
    qRegisterMetaType<int16_t>("int16_t");
}
