// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "ui/devicetablemodel.h"

#include "core/fleet/csv.h"

#include <QHostAddress>
#include <QPainter>

#include <cmath>

namespace corla {

namespace {

// The window's way to a fitting address, after the net layer's off-network note.
QString withConfigureHint(const QString& offNetworkNote)
{
    return offNetworkNote.isEmpty()
               ? offNetworkNote
               : offNetworkNote + QStringLiteral("; Configure can give it an address there");
}

// Relative luminance as the WCAG defines it, for choosing a readable text colour.
double luminance(const QColor& colour)
{
    const auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

const char* const CheckCable = "Check the cable and that the device is powered.";

const char* const StatusWords[RowStatusCount] = {
    "Reachable", "Refused", "No answer", "No IP", "Off-network", "Conflict", "Waiting",
};

// Indexed by RowStatus.
const QColor StatusColours[RowStatusCount] = {
    QColor(0, 255, 0),     // Reachable: green
    QColor(255, 165, 0),   // Refused: orange
    QColor(255, 255, 0),   // No answer: yellow
    QColor(255, 0, 0),     // No IP: red
    QColor(200, 160, 255), // Off-network: violet
    QColor(255, 0, 255),   // Conflict: magenta
    QColor(160, 160, 164), // Waiting: grey
};

int statusIndex(RowStatus status)
{
    const int i = int(status);
    return i >= 0 && i < RowStatusCount ? i : int(RowStatus::Waiting);
}

const char* const HeaderTexts[DeviceTableModel::ColumnCount] = {
    QT_TRANSLATE_NOOP("CorlaTableModel", "Status"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Device Type"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Serial #"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "IP Address"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Mode "),
    QT_TRANSLATE_NOOP("CorlaTableModel", "MAC Address"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Subnet Mask"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Gateway"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "DNS Server"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Interface"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Reason"),
};

// The address a column shows, if it shows one.
std::optional<Ipv4Address> addressOf(const Device& device, int column)
{
    const NetworkSettings& net = device.netHostInfo();
    switch (column) {
    case DeviceTableModel::IpColumn:
        return net.ipAddress();
    case DeviceTableModel::SubnetColumn:
        return net.subnetMask();
    case DeviceTableModel::GatewayColumn:
        return net.gateway();
    case DeviceTableModel::DnsColumn:
        return net.dns();
    case DeviceTableModel::InterfaceColumn:
        return device.commsIfaceAddr();
    default:
        return std::nullopt;
    }
}

} // namespace

DeviceTableModel::DeviceTableModel(QObject* parent) : QAbstractTableModel(parent)
{
    connect(&m_list, &DeviceList::aboutToAppend, this,
            [this](int row) { beginInsertRows(QModelIndex(), row, row); });
    connect(&m_list, &DeviceList::appended, this, [this] {
        endInsertRows();
        emit deviceListChanged();
    });
    connect(&m_list, &DeviceList::aboutToClear, this, [this] { beginResetModel(); });
    connect(&m_list, &DeviceList::cleared, this, [this] {
        endResetModel();
        emit deviceListChanged();
    });
    connect(&m_list, &DeviceList::settingsChanged, this, [this](int row) {
        emit dataChanged(index(row, StatusColumn), index(row, columnCount() - 1));
    });
    connect(&m_list, &DeviceList::statusChanged, this, &DeviceTableModel::statusCellsChanged);
    connect(&m_list, &DeviceList::conflictChanged, this, &DeviceTableModel::statusCellsChanged);
}

int DeviceTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_list.size();
}

int DeviceTableModel::columnCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return m_showNetInfo ? ColumnCount : BasicColumnCount;
}

QVariant DeviceTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_list.size())
        return {};
    if (index.column() >= columnCount(index.parent()))
        return {};
    const Device& dev = *m_list.devices().at(index.row());
    const NetworkSettings& net = dev.netHostInfo();
    if (index.column() == StatusColumn) {
        switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return statusWord(status(dev));
        case Qt::ToolTipRole:
        case Qt::AccessibleTextRole:
            return statusExplanation(dev);
        case SortRole:
        case StatusRole:
            return int(status(dev));
        case ConflictRole:
            return m_list.isConflicting(net.macAddress());
        default:
            return {};
        }
    }
    if (role == ConflictRole)
        return false;
    const std::optional<Ipv4Address> address = addressOf(dev, index.column());
    if (role == SortRole) {
        if (address)
            return uint(address->toInt());
        role = Qt::DisplayRole;
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};

    if (address)
        return DisplayText::address(*address);
    switch (index.column()) {
    case TypeColumn:
        return DisplayText::deviceType(dev.devType());
    case SerialColumn:
        // An unsigned int, not a ushort: the sort proxy compares ushort values as text.
        return static_cast<uint>(dev.serial());
    case ModeColumn:
        return DisplayText::addressMode(net.addressMode());
    case MacColumn:
        return DisplayText::mac(net.macAddress());
    case ReasonColumn:
        return statusExplanation(dev).simplified();
    default:
        return {};
    }
}

QVariant DeviceTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal && section >= 0 && section < ColumnCount)
        return tr(HeaderTexts[section]);
    return section;
}

// Cells are selectable and enabled, never editable. The root reports no flags at
// all: item-model consumers take any root flag other than drop-enabled as an error.
Qt::ItemFlags DeviceTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return QAbstractTableModel::flags(index);
}

std::shared_ptr<Device> DeviceTableModel::deviceAtIndex(const QModelIndex& index) const
{
    const int row = index.row();
    if (row < 0 || row >= m_list.size())
        return nullptr;
    return m_list.devices().at(row);
}

QString DeviceTableModel::toCsv() const
{
    return devicesCsv(m_list.devices());
}

void DeviceTableModel::setShowNetInfo(bool show)
{
    if (show == m_showNetInfo)
        return;
    // Views must hear of the columns that come and go.
    if (show)
        beginInsertColumns(QModelIndex(), BasicColumnCount, ColumnCount - 1);
    else
        beginRemoveColumns(QModelIndex(), BasicColumnCount, ColumnCount - 1);
    m_showNetInfo = show;
    if (show)
        endInsertColumns();
    else
        endRemoveColumns();
}

QString statusWord(RowStatus status)
{
    return QString::fromLatin1(StatusWords[statusIndex(status)]);
}

QColor statusColour(RowStatus status)
{
    return StatusColours[statusIndex(status)];
}

QColor statusTextColour(RowStatus status)
{
    // Contrast with black (L + 0.05) / 0.05 against white 1.05 / (L + 0.05): black wins from
    // L = 0.179 up.
    return luminance(statusColour(status)) >= 0.179 ? QColor(Qt::black) : QColor(Qt::white);
}

void DeviceItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const
{
    if (index.column() != DeviceTableModel::StatusColumn) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    const QVariant value = index.data(DeviceTableModel::StatusRole);
    const auto status = value.isValid() ? RowStatus(value.toInt()) : RowStatus::Waiting;
    painter->save();
    painter->fillRect(option.rect, statusColour(status));
    const QRect textRect = option.rect.adjusted(4, 0, -4, 0);
    painter->setFont(option.font);
    painter->setPen(statusTextColour(status));
    painter->drawText(
        textRect, Qt::AlignLeft | Qt::AlignVCenter,
        option.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight, textRect.width()));
    // Selection must not look like a verdict: the colour stays, a frame marks the row.
    if (option.state & QStyle::State_Selected) {
        const QPalette::ColorGroup group =
            option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        QPen frame(option.palette.color(group, QPalette::Highlight), 2);
        frame.setJoinStyle(Qt::MiterJoin);
        painter->setPen(frame);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRectF(option.rect).adjusted(1, 1, -1, -1));
    }
    painter->restore();
}

void DeviceTableModel::setProbeReason(const Device& device, ProbeReason reason)
{
    Reason& stored = m_reasons[macKey(device.netHostInfo().macAddress())];
    stored = Reason{};
    stored.probe = reason;
    stored.probedIp = device.netHostInfo().ipAddress().toInt();
    // Asks the system for its interfaces: only where the answer can matter.
    if (reason == ProbeReason::NoAnswer || reason == ProbeReason::HostUnreachable ||
        reason == ProbeReason::NoRoute)
        stored.offNetwork = withConfigureHint(offNetworkNote(device));
    reasonChanged(device.netHostInfo().macAddress());
}

void DeviceTableModel::setStatusReason(const MacAddress& mac, const QString& reason)
{
    Reason& stored = m_reasons[macKey(mac)];
    stored = Reason{};
    stored.text = reason;
    reasonChanged(mac);
}

void DeviceTableModel::reasonChanged(const MacAddress& mac)
{
    const int row = m_list.rowOf(mac);
    if (row >= 0)
        statusCellsChanged(row);
}

void DeviceTableModel::statusCellsChanged(int row)
{
    // Two notices, one per cell: a notice spanning the columns between would make a sort
    // proxy sorted by any of them move the row, for each probe of a long list.
    emit dataChanged(index(row, StatusColumn), index(row, StatusColumn));
    if (m_showNetInfo)
        emit dataChanged(index(row, ReasonColumn), index(row, ReasonColumn));
}

void DeviceTableModel::clearStatusReasons()
{
    m_reasons.clear();
}

RowStatus DeviceTableModel::status(const Device& device) const
{
    const MacAddress& mac = device.netHostInfo().macAddress();
    if (m_list.isConflicting(mac))
        return RowStatus::Conflict;
    const auto found = m_reasons.constFind(macKey(mac));
    const Reason* reason = found == m_reasons.constEnd() ? nullptr : &*found;
    switch (device.netStat()) {
    case Reachability::Reachable:
        return RowStatus::Reachable;
    case Reachability::NoIp:
        return RowStatus::NoIp;
    case Reachability::Pending:
        return RowStatus::Waiting;
    case Reachability::NotFound:
        // Not probed yet, or silent in the latest enquiry.
        return reason ? RowStatus::NoAnswer : RowStatus::Waiting;
    case Reachability::Unreachable:
        break;
    }
    if (!reason || !reason->probe)
        return RowStatus::NoAnswer;
    switch (*reason->probe) {
    case ProbeReason::Refused:
        return RowStatus::Refused;
    case ProbeReason::NoAddress:
    case ProbeReason::NotProbed:
        return RowStatus::NoIp;
    case ProbeReason::NoRoute:
        return RowStatus::OffNetwork;
    default:
        return reason->offNetwork.isEmpty() ? RowStatus::NoAnswer : RowStatus::OffNetwork;
    }
}

QString DeviceTableModel::statusExplanation(const Device& device) const
{
    const MacAddress& mac = device.netHostInfo().macAddress();
    if (const auto conflict = m_list.conflict(mac))
        return conflict->text();
    const auto found = m_reasons.constFind(macKey(mac));
    const Reason reason = found == m_reasons.constEnd() ? Reason{} : *found;
    const ProbeReason probe = reason.probe.value_or(ProbeReason::Waiting);
    const QString ip = QHostAddress(reason.probedIp).toString();
    switch (status(device)) {
    case RowStatus::Reachable:
        return QStringLiteral("Reachable: TCP port 21 accepted a connection.");
    case RowStatus::Refused:
        return QStringLiteral("Refused: the device is there but turned away a connection on TCP "
                              "port 21. Wait until it has finished starting, or reset it.");
    case RowStatus::NoAnswer:
        if (!reason.text.isEmpty())
            return reason.text.left(1).toUpper() + reason.text.mid(1) + QStringLiteral(". ") +
                   QLatin1String(CheckCable);
        if (probe == ProbeReason::HostUnreachable)
            return QStringLiteral("No answer: nothing on the network answers for %1. ").arg(ip) +
                   QLatin1String(CheckCable);
        return QStringLiteral(
            "No answer on TCP port 21: check the cable and that the device is powered.");
    case RowStatus::NoIp:
        if (probe == ProbeReason::NotProbed && !nonHostAddress(reason.probedIp).isEmpty())
            return QStringLiteral("No IP address a device can have: %1 is %2. Give it one with "
                                  "Configure.")
                .arg(ip, nonHostAddress(reason.probedIp));
        return QStringLiteral("No IP address: give the device one with Configure, or check that "
                              "its DHCP server is running.");
    case RowStatus::OffNetwork:
        if (!reason.offNetwork.isEmpty())
            return QStringLiteral("Off-network: ") + reason.offNetwork + QLatin1Char('.');
        return QStringLiteral("Off-network: this computer has no route to %1. Give the device "
                              "an address on this computer's network with Configure.")
            .arg(ip);
    case RowStatus::Conflict:
    case RowStatus::Waiting:
        break;
    }
    const QString note = withConfigureHint(offNetworkNote(device));
    return QStringLiteral("Waiting for a probe") +
           (note.isEmpty() ? QString() : QStringLiteral("; ") + note);
}

} // namespace corla
