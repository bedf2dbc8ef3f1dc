#include "corladevicelist.h"

#include <algorithm>

namespace {

const TevMacAddr& macOf(const TevDevice& device)
{
    return device.netHostInfo().macAddress();
}

} // namespace

quint64 corlaMacKey(const TevMacAddr& mac)
{
    quint64 key = 0;
    for (uint8_t octet : mac.octets())
        key = (key << 8) | octet;
    return key;
}

CorlaDeviceList::CorlaDeviceList(QObject* parent) : QObject(parent) {}

int CorlaDeviceList::rowOf(const TevMacAddr& mac) const
{
    const QVector<int> rows = rowsOf(mac);
    return rows.isEmpty() ? -1 : rows.first();
}

std::shared_ptr<TevDevice> CorlaDeviceList::find(const TevMacAddr& mac) const
{
    const int row = rowOf(mac);
    return row >= 0 ? m_devices.at(row) : nullptr;
}

bool CorlaDeviceList::append(std::shared_ptr<TevDevice> device)
{
    if (!device || contains(macOf(*device)))
        return false;
    const int row = m_devices.size();
    emit aboutToAppend(row);
    m_rowsByMac.insert(corlaMacKey(macOf(*device)), row);
    m_devices.append(std::move(device));
    emit appended(row);
    return true;
}

void CorlaDeviceList::merge(const std::shared_ptr<TevDevice>& answer)
{
    if (answer && !updateSettings(macOf(*answer), answer->netHostInfo()))
        append(answer);
}

bool CorlaDeviceList::updateSettings(const TevMacAddr& mac, const TevNetHostInfo& settings)
{
    const int row = rowOf(mac);
    if (row < 0)
        return false;
    TevDevice& stored = *m_devices.at(row);
    stored.setNetStat(ZelNetworkStatus::Pending);
    const bool macMoves = macOf(stored) != settings.macAddress();
    stored.setNetHostInfo(settings);
    if (macMoves)
        rebuildMacIndex();
    emit settingsChanged(row);
    return true;
}

void CorlaDeviceList::setStatus(const TevMacAddr& mac, ZelNetworkStatus status)
{
    for (int row : rowsOf(mac)) {
        m_devices.at(row)->setNetStat(status);
        emit statusChanged(row);
    }
}

void CorlaDeviceList::clear()
{
    emit aboutToClear();
    m_devices.clear();
    m_rowsByMac.clear();
    emit cleared();
}

CorlaDeviceList::Devices CorlaDeviceList::sortedBySerial() const
{
    Devices sorted = m_devices;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        if (a->serial() != b->serial())
            return a->serial() < b->serial();
        return macOf(*a).octets() < macOf(*b).octets();
    });
    return sorted;
}

QVector<int> CorlaDeviceList::rowsOf(const TevMacAddr& mac) const
{
    QVector<int> rows = m_rowsByMac.values(corlaMacKey(mac)).toVector();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CorlaDeviceList::rebuildMacIndex()
{
    m_rowsByMac.clear();
    for (int row = 0; row < m_devices.size(); ++row)
        m_rowsByMac.insert(corlaMacKey(macOf(*m_devices.at(row))), row);
}

namespace CorlaText {

QString deviceType(ZelDeviceType type)
{
    return QString::fromStdString(ZelUtil::deviceTypeStr(type));
}

QString addressMode(TevAddressMode mode)
{
    switch (mode) {
    case TevAddressModeAuto:
        return QStringLiteral("DHCP");
    case TevAddressModeManual:
        return QStringLiteral("Static");
    default:
        return QStringLiteral("Unknown");
    }
}

QString address(const TevIpAddr& address)
{
    return QString::fromStdString(address.toString());
}

QString mac(const TevMacAddr& mac)
{
    return QString::fromStdString(mac.toString());
}

QString status(ZelNetworkStatus status)
{
    return QString::fromStdString(ZelUtil::networkStatusStr(status));
}

} // namespace CorlaText
