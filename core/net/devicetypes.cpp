// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/devicetypes.h"

namespace corla {

namespace {

template <typename Key>
std::string lookup(const std::map<Key, std::string>& table, Key key, const char* fallback)
{
    const auto it = table.find(key);
    return it != table.end() ? it->second : std::string(fallback);
}

const char* const InvalidStatus = "Invalid Status";

} // namespace

namespace {

constexpr DeviceTypeTraits TypeTable[] = {
    {DeviceType::Unsupported, "Unsupported device", DeviceFamily::Generic, false},
    {DeviceType::NoDevice, "No device", DeviceFamily::Generic, false},
    {DeviceType::TavioLF, "Tavio LF", DeviceFamily::Generic, false},
    {DeviceType::NerioLF, "Nerio LF", DeviceFamily::Generic, false},
    {DeviceType::VRTQ, "VRTQ", DeviceFamily::Generic, false},
    {DeviceType::Tavio, "Tavio", DeviceFamily::Generic, false},
    {DeviceType::NerioHF, "Nerio HF", DeviceFamily::Hydrophone, true},
    {DeviceType::TavioHF, "Tavio HF", DeviceFamily::Generic, false},
    {DeviceType::NerioAF, "Nerio AF", DeviceFamily::Hydrophone, true},
    {DeviceType::HostController, "Host Controller", DeviceFamily::HostController, true},
    {DeviceType::HostLink, "Host Link", DeviceFamily::Generic, false},
    {DeviceType::Pivlo, "Pivlo", DeviceFamily::Generic, false},
    {DeviceType::ExtenderHost, "Extender Host", DeviceFamily::Generic, false},
    {DeviceType::LinkBoard, "Link Board", DeviceFamily::Generic, false},
    {DeviceType::BatteryPack, "Battery Pack", DeviceFamily::Recorder, false},
    {DeviceType::ExtenderDevice, "Extender Device", DeviceFamily::Generic, false},
    {DeviceType::Dorvi, "Dorvi", DeviceFamily::Hydrophone, false},
    {DeviceType::KWT, "KWT", DeviceFamily::HostController, true},
    {DeviceType::NerioMF, "Nerio MF", DeviceFamily::Generic, false},
    {DeviceType::ZQ, "ZQ", DeviceFamily::Generic, false},
};

constexpr DeviceTypeTraits Unrecognized = {DeviceType::NoDevice, "Unrecognized Device",
                                           DeviceFamily::Generic, false};

std::map<DeviceType, std::string> typeNames()
{
    std::map<DeviceType, std::string> names;
    for (const DeviceTypeTraits& t : TypeTable)
        names.emplace(t.type, t.name);
    return names;
}

} // namespace

const DeviceTypeTraits& deviceTypeTraits(DeviceType type)
{
    for (const DeviceTypeTraits& t : TypeTable) {
        if (t.type == type)
            return t;
    }
    return Unrecognized;
}

const std::map<DeviceType, std::string> DeviceTexts::deviceTypeNames = typeNames();

const std::map<Reachability, std::string> DeviceTexts::networkStatStrings = {
    {Reachability::Reachable, "Reachable"}, {Reachability::Unreachable, "Unreachable"},
    {Reachability::NoIp, "NoIp"},           {Reachability::Pending, "Pending"},
    {Reachability::NotFound, "NotFound"},
};

const std::map<PortState, std::string> DeviceTexts::portConnStatStrings = {
    {PortState::Unknown, "Unknown"},
    {PortState::Unavailable, "Unavailable"},
    {PortState::Available, "Available"},
    {PortState::Connected, "Connected"},
    {PortState::ConnectionLost, "ConnectionLost"},
};

const std::map<AcquisitionState, std::string> DeviceTexts::statusStrings = {
    {AcquisitionState::Ready, "Ready"},
    {AcquisitionState::AcqNotReady, "Acq. Not Ready"},
    {AcquisitionState::NotReady, "Not Ready"},
    {AcquisitionState::ConfigFailed, "Config Failed"},
    {AcquisitionState::BaudRateConfig, "Baud Rate Config"},
    {AcquisitionState::FilesystemFault, "Filesystem Fault"},
};

std::string DeviceTexts::deviceTypeStr(DeviceType type)
{
    return deviceTypeTraits(type).name;
}

std::string DeviceTexts::networkStatusStr(Reachability stat)
{
    return lookup(networkStatStrings, stat, InvalidStatus);
}

std::string DeviceTexts::portConnStatusStr(PortState stat)
{
    return lookup(portConnStatStrings, stat, InvalidStatus);
}

std::string DeviceTexts::deviceStatusStr(AcquisitionState stat)
{
    return lookup(statusStrings, stat, InvalidStatus);
}

} // namespace corla
