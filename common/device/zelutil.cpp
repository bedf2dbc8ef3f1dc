// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "zelutil.h"

namespace {

template <typename Key>
std::string lookup(const std::map<Key, std::string>& table, Key key, const char* fallback)
{
    const auto it = table.find(key);
    return it != table.end() ? it->second : std::string(fallback);
}

const char* const InvalidStatus = "Invalid Status";

} // namespace

const std::map<ZelDeviceType, std::string> ZelUtil::deviceTypeNames = {
    {ZelDeviceType::Unsupported, "Unsupported device"},
    {ZelDeviceType::NoDevice, "No device"},
    {ZelDeviceType::TavioLF, "Tavio LF"},
    {ZelDeviceType::NerioLF, "Nerio LF"},
    {ZelDeviceType::VRTQ, "VRTQ"},
    {ZelDeviceType::Tavio, "Tavio"},
    {ZelDeviceType::NerioHF, "Nerio HF"},
    {ZelDeviceType::TavioHF, "Tavio HF"},
    {ZelDeviceType::NerioAF, "Nerio AF"},
    {ZelDeviceType::HostController, "Host Controller"},
    {ZelDeviceType::HostLink, "Host Link"},
    {ZelDeviceType::Pivlo, "Pivlo"},
    {ZelDeviceType::ExtenderHost, "Extender Host"},
    {ZelDeviceType::LinkBoard, "Link Board"},
    {ZelDeviceType::BatteryPack, "Battery Pack"},
    {ZelDeviceType::ExtenderDevice, "Extender Device"},
    {ZelDeviceType::Dorvi, "Dorvi"},
    {ZelDeviceType::KWT, "KWT"},
    {ZelDeviceType::NerioMF, "Nerio MF"},
    {ZelDeviceType::ZQ, "ZQ"},
};

const std::map<ZelNetworkStatus, std::string> ZelUtil::networkStatStrings = {
    {ZelNetworkStatus::Reachable, "Reachable"}, {ZelNetworkStatus::Unreachable, "Unreachable"},
    {ZelNetworkStatus::NoIp, "NoIp"},           {ZelNetworkStatus::Pending, "Pending"},
    {ZelNetworkStatus::NotFound, "NotFound"},
};

const std::map<ZelPortConnStatus, std::string> ZelUtil::portConnStatStrings = {
    {ZelPortConnStatus::Unknown, "Unknown"},
    {ZelPortConnStatus::Unavailable, "Unavailable"},
    {ZelPortConnStatus::Available, "Available"},
    {ZelPortConnStatus::Connected, "Connected"},
    {ZelPortConnStatus::ConnectionLost, "ConnectionLost"},
};

const std::map<ZelDeviceStatus, std::string> ZelUtil::statusStrings = {
    {ZelDeviceStatus::Ready, "Ready"},
    {ZelDeviceStatus::AcqNotReady, "Acq. Not Ready"},
    {ZelDeviceStatus::NotReady, "Not Ready"},
    {ZelDeviceStatus::ConfigFailed, "Config Failed"},
    {ZelDeviceStatus::BaudRateConfig, "Baud Rate Config"},
    {ZelDeviceStatus::FilesystemFault, "Filesystem Fault"},
};

std::string ZelUtil::deviceTypeStr(ZelDeviceType type)
{
    return lookup(deviceTypeNames, type, "Unrecognized Device");
}

std::string ZelUtil::networkStatusStr(ZelNetworkStatus stat)
{
    return lookup(networkStatStrings, stat, InvalidStatus);
}

std::string ZelUtil::portConnStatusStr(ZelPortConnStatus stat)
{
    return lookup(portConnStatStrings, stat, InvalidStatus);
}

std::string ZelUtil::deviceStatusStr(ZelDeviceStatus stat)
{
    return lookup(statusStrings, stat, InvalidStatus);
}
