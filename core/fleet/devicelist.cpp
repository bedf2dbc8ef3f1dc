// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/fleet/devicelist.h"

#include <algorithm>

namespace corla {

namespace {

const MacAddress& macOf(const Device& device)
{
    return device.netHostInfo().macAddress();
}

// What two answers for one MAC address disagree about, as "Gateway 10.10.0.1 / 10.10.0.66",
// in column order.
QStringList differencesOf(const Device& first, const Device& other)
{
    QStringList differences;
    const auto compare = [&differences](const char* field, const QString& a, const QString& b) {
        if (a != b)
            differences << QStringLiteral("%1 %2 / %3").arg(QLatin1String(field), a, b);
    };
    // Codes that share a text ("Unrecognized Device", "Unknown") are told apart by number.
    const auto compareCodes = [&compare](const char* field, int a, int b, const QString& textA,
                                         const QString& textB) {
        if (a != b && textA == textB)
            compare(field, QString::number(a), QString::number(b));
        else
            compare(field, textA, textB);
    };
    const NetworkSettings& a = first.netHostInfo();
    const NetworkSettings& b = other.netHostInfo();
    compareCodes("Device Type", int(first.devType()), int(other.devType()),
                 DisplayText::deviceType(first.devType()),
                 DisplayText::deviceType(other.devType()));
    compare("Serial", QString::number(first.serial()), QString::number(other.serial()));
    compare("IP Address", DisplayText::address(a.ipAddress()), DisplayText::address(b.ipAddress()));
    compare("Subnet Mask", DisplayText::address(a.subnetMask()),
            DisplayText::address(b.subnetMask()));
    compare("Gateway", DisplayText::address(a.gateway()), DisplayText::address(b.gateway()));
    compare("DNS Server", DisplayText::address(a.dns()), DisplayText::address(b.dns()));
    compareCodes("Address Mode", int(a.addressMode()), int(b.addressMode()),
                 DisplayText::addressMode(a.addressMode()),
                 DisplayText::addressMode(b.addressMode()));
    return differences;
}

} // namespace

QString Conflict::text() const
{
    const bool samePlace = firstSender == otherSender;
    const auto sender = [samePlace](const Ipv4Address& address, quint16 port) {
        const QString text = DisplayText::address(address);
        return samePlace ? text + QLatin1Char(':') + QString::number(port) : text;
    };
    return QStringLiteral("Answers from %1 and %2 differ: %3. Possibly a duplicate MAC address "
                          "or a forged answer.")
        .arg(sender(firstSender, firstPort), sender(otherSender, otherPort),
             differences.join(QStringLiteral("; ")));
}

quint64 macKey(const MacAddress& mac)
{
    quint64 key = 0;
    for (uint8_t octet : mac.octets())
        key = (key << 8) | octet;
    return key;
}

DeviceList::DeviceList(QObject* parent) : QObject(parent) {}

int DeviceList::rowOf(const MacAddress& mac) const
{
    const QVector<int> rows = rowsOf(mac);
    return rows.isEmpty() ? -1 : rows.first();
}

std::shared_ptr<Device> DeviceList::find(const MacAddress& mac) const
{
    const int row = rowOf(mac);
    return row >= 0 ? m_devices.at(row) : nullptr;
}

void DeviceList::setCapacity(int capacity)
{
    m_capacity = qMax(1, capacity);
}

bool DeviceList::append(std::shared_ptr<Device> device)
{
    if (!device || contains(macOf(*device)))
        return false;
    if (m_devices.size() >= m_capacity) {
        if (++m_ignored == 1)
            emit capacityReached(m_capacity);
        return false;
    }
    const int row = m_devices.size();
    emit aboutToAppend(row);
    m_rowsByMac.insert(macKey(macOf(*device)), row);
    m_devices.append(std::move(device));
    m_heard.append(Heard());
    emit appended(row);
    return true;
}

void DeviceList::merge(const std::shared_ptr<Device>& answer)
{
    if (!answer)
        return;
    const int row = rowOf(macOf(*answer));
    if (row < 0) {
        if (append(answer))
            noteHeard(m_devices.size() - 1, *answer);
        return;
    }
    Heard& heard = m_heard[row];
    const bool otherSender = heard.thisRound && (heard.sender != answer->answeredFrom() ||
                                                 heard.port != answer->answeredFromPort());
    if (otherSender) {
        const QStringList differences = differencesOf(*m_devices.at(row), *answer);
        if (!differences.isEmpty()) {
            // The first sender's answer stands: the other's settings are never taken.
            heard.last = QDateTime::currentDateTimeUtc();
            const Conflict found{heard.sender, heard.port, answer->answeredFrom(),
                                 answer->answeredFromPort(), differences};
            if (!heard.conflict || heard.conflict->text() != found.text()) {
                heard.conflict = found;
                emit conflictChanged(row);
            }
            return;
        }
    }
    noteHeard(row, *answer);
    // Every enquiry goes out several times and every copy is answered: an answer that
    // repeats what the list holds changes nothing (no new probe, no grey row).
    if (m_devices.at(row)->netHostInfo() == answer->netHostInfo())
        return;
    // The round's first sender itself reports other settings now: the device changed them
    // during the round (it answered one local address before and another after), and the
    // other sender's answer was no dispute.
    if (heard.conflict && heard.sender == answer->answeredFrom() &&
        heard.port == answer->answeredFromPort()) {
        heard.conflict.reset();
        emit conflictChanged(row);
    }
    applySettings(row, answer->netHostInfo());
}

bool DeviceList::updateSettings(const MacAddress& mac, const NetworkSettings& settings)
{
    const int row = rowOf(mac);
    if (row < 0)
        return false;
    applySettings(row, settings);
    if (m_heard[row].conflict) {
        m_heard[row].conflict.reset();
        emit conflictChanged(row);
    }
    return true;
}

void DeviceList::applySettings(int row, const NetworkSettings& settings)
{
    Device& stored = *m_devices.at(row);
    stored.setNetStat(Reachability::Pending);
    const bool macMoves = macOf(stored) != settings.macAddress();
    stored.setNetHostInfo(settings);
    if (macMoves)
        rebuildMacIndex();
    emit settingsChanged(row);
}

void DeviceList::noteHeard(int row, const Device& answer)
{
    Heard& heard = m_heard[row];
    if (!heard.thisRound) {
        heard.thisRound = true;
        heard.sender = answer.answeredFrom();
        heard.port = answer.answeredFromPort();
    }
    heard.last = QDateTime::currentDateTimeUtc();
}

void DeviceList::setStatus(const MacAddress& mac, Reachability status)
{
    for (int row : rowsOf(mac)) {
        m_devices.at(row)->setNetStat(status);
        emit statusChanged(row);
    }
}

void DeviceList::clear()
{
    emit aboutToClear();
    m_devices.clear();
    m_heard.clear();
    m_rowsByMac.clear();
    m_ignored = 0;
    emit cleared();
}

void DeviceList::beginRound()
{
    m_ignored = 0;
    for (int row = 0; row < m_heard.size(); ++row) {
        Heard& heard = m_heard[row];
        heard.thisRound = false;
        heard.sender = Ipv4Address();
        heard.port = 0;
        if (heard.conflict) {
            heard.conflict.reset();
            emit conflictChanged(row);
        }
    }
}

const DeviceList::Heard* DeviceList::heardOf(const MacAddress& mac) const
{
    const int row = rowOf(mac);
    return row >= 0 ? &m_heard.at(row) : nullptr;
}

std::optional<Conflict> DeviceList::conflict(const MacAddress& mac) const
{
    const Heard* heard = heardOf(mac);
    return heard ? heard->conflict : std::nullopt;
}

bool DeviceList::isConflicting(const MacAddress& mac) const
{
    const Heard* heard = heardOf(mac);
    return heard && heard->conflict.has_value();
}

bool DeviceList::heardThisRound(const MacAddress& mac) const
{
    const Heard* heard = heardOf(mac);
    return heard && heard->thisRound;
}

QDateTime DeviceList::lastHeard(const MacAddress& mac) const
{
    const Heard* heard = heardOf(mac);
    return heard ? heard->last.toLocalTime() : QDateTime();
}

DeviceList::Devices DeviceList::sortedBySerial() const
{
    Devices sorted = m_devices;
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        if (a->serial() != b->serial())
            return a->serial() < b->serial();
        return macOf(*a).octets() < macOf(*b).octets();
    });
    return sorted;
}

QVector<int> DeviceList::rowsOf(const MacAddress& mac) const
{
    QVector<int> rows = m_rowsByMac.values(macKey(mac)).toVector();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void DeviceList::rebuildMacIndex()
{
    m_rowsByMac.clear();
    for (int row = 0; row < m_devices.size(); ++row)
        m_rowsByMac.insert(macKey(macOf(*m_devices.at(row))), row);
}

namespace DisplayText {

QString deviceType(DeviceType type)
{
    return QString::fromStdString(DeviceTexts::deviceTypeStr(type));
}

QString addressMode(AddressMode mode)
{
    switch (mode) {
    case AddressModeDhcp:
        return QStringLiteral("DHCP");
    case AddressModeStatic:
        return QStringLiteral("Static");
    default:
        return QStringLiteral("Unknown");
    }
}

QString address(const Ipv4Address& address)
{
    return QString::fromStdString(address.toString());
}

QString mac(const MacAddress& mac)
{
    return QString::fromStdString(mac.toString());
}

QString status(Reachability status)
{
    return QString::fromStdString(DeviceTexts::networkStatusStr(status));
}

} // namespace DisplayText

} // namespace corla
