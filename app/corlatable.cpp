#include "corlatable.h"

#include <algorithm>

#include <QColor>
#include <QPainter>

#include <iterator>

namespace {

quint64 macKey(const TevMacAddr& mac)
{
    quint64 key = 0;
    for (uint8_t octet : mac.octets())
        key = (key << 8) | octet;
    return key;
}

const char* const HeaderTexts[CorlaTableModel::NetInfoColumnCount] = {
    "",
    QT_TRANSLATE_NOOP("CorlaTableModel", "Device Type"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Serial #"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "IP Address"),
    QT_TRANSLATE_NOOP("CorlaTableModel", "Mode "),
    QT_TRANSLATE_NOOP("CorlaTableModel", "MAC Address"),
};

QString addressModeText(TevAddressMode mode)
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

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

} // namespace

CorlaTableModel::CorlaTableModel(QObject* parent) : QAbstractTableModel(parent) {}

int CorlaTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_devices.size();
}

int CorlaTableModel::columnCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return m_showNetInfo ? NetInfoColumnCount : BasicColumnCount;
}

QVariant CorlaTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_devices.size())
        return {};
    if (index.column() >= columnCount(index.parent()))
        return {};
    const auto& dev = m_devices.at(index.row());
    if (!dev)
        return QStringLiteral("n/a");
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};

    const TevNetHostInfo& net = dev->netHostInfo();
    switch (index.column()) {
    case StatusColumn:
        return static_cast<int>(dev->netStat());
    case TypeColumn:
        return text(ZelUtil::deviceTypeStr(dev->devType()));
    case SerialColumn:
        // An unsigned int, not a ushort: the sort proxy compares ushort values as text.
        return static_cast<uint>(dev->serial());
    case IpColumn:
        return text(net.ipAddress().toString());
    case ModeColumn:
        return addressModeText(net.addressMode());
    case MacColumn:
        return text(net.macAddress().toString());
    default:
        return {};
    }
}

QVariant CorlaTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal && section >= 0 && section < NetInfoColumnCount)
        return tr(HeaderTexts[section]);
    return section;
}

// Cells are selectable and enabled, never editable. The root reports no flags at
// all: item-model consumers take any root flag other than drop-enabled as an error.
Qt::ItemFlags CorlaTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return QAbstractTableModel::flags(index);
}

void CorlaTableModel::addDevice(std::shared_ptr<TevDevice> device)
{
    if (!device || containsDevice(*device))
        return;
    const int row = m_devices.size();
    beginInsertRows(QModelIndex(), row, row);
    m_rowsByMac.insert(macKey(device->netHostInfo().macAddress()), row);
    m_devices.append(std::move(device));
    endInsertRows();
    emit deviceListChanged();
}

void CorlaTableModel::clearTable()
{
    beginResetModel();
    m_devices.clear();
    m_rowsByMac.clear();
    endResetModel();
    emit deviceListChanged();
}

bool CorlaTableModel::containsDevice(const TevDevice& device) const
{
    return rowOf(device.netHostInfo().macAddress()) >= 0;
}

std::shared_ptr<TevDevice> CorlaTableModel::device(const TevMacAddr& mac) const
{
    const int row = rowOf(mac);
    return row >= 0 ? m_devices.at(row) : nullptr;
}

std::shared_ptr<TevDevice> CorlaTableModel::deviceAtIndex(const QModelIndex& index) const
{
    const int row = index.row();
    if (row < 0 || row >= m_devices.size())
        return nullptr;
    return m_devices.at(row);
}

void CorlaTableModel::setShowNetInfo(bool show)
{
    if (show == m_showNetInfo)
        return;
    // Views must hear of the columns that come and go.
    if (show)
        beginInsertColumns(QModelIndex(), BasicColumnCount, NetInfoColumnCount - 1);
    else
        beginRemoveColumns(QModelIndex(), BasicColumnCount, NetInfoColumnCount - 1);
    m_showNetInfo = show;
    if (show)
        endInsertColumns();
    else
        endRemoveColumns();
}

void CorlaTableModel::updateDeviceConfig(const TevDevice& device, const TevNetHostInfo& netHostInfo)
{
    const int row = rowOf(device.netHostInfo().macAddress());
    if (row < 0)
        return;
    TevDevice& stored = *m_devices.at(row);
    stored.setNetStat(ZelNetworkStatus::Pending);
    const bool macMoves = stored.netHostInfo().macAddress() != netHostInfo.macAddress();
    stored.setNetHostInfo(netHostInfo);
    if (macMoves)
        rebuildMacIndex();
    emit dataChanged(index(row, StatusColumn), index(row, columnCount() - 1));
}

void CorlaTableModel::updateDeviceStat(const TevDevice& device, ZelNetworkStatus status)
{
    for (int row : rowsOf(device.netHostInfo().macAddress())) {
        m_devices.at(row)->setNetStat(status);
        const QModelIndex cell = index(row, StatusColumn);
        emit dataChanged(cell, cell);
    }
}

QString CorlaTableModel::toCsv() const
{
    QString csv = QStringLiteral(
        "Serial,Device Type,IP Address,Subnet Mask,Gateway,DNS Server,Address mode,MAC Address\n");
    for (const auto& dev : m_devices) {
        const TevNetHostInfo& net = dev->netHostInfo();
        const QStringList fields = {
            QString::number(dev->serial()),     text(ZelUtil::deviceTypeStr(dev->devType())),
            text(net.ipAddress().toString()),   text(net.subnetMask().toString()),
            text(net.gateway().toString()),     text(net.dns().toString()),
            addressModeText(net.addressMode()), text(net.macAddress().toString()),
        };
        csv += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return csv;
}

QVector<int> CorlaTableModel::rowsOf(const TevMacAddr& mac) const
{
    QVector<int> rows = m_rowsByMac.values(macKey(mac)).toVector();
    std::sort(rows.begin(), rows.end());
    return rows;
}

int CorlaTableModel::rowOf(const TevMacAddr& mac) const
{
    const QVector<int> rows = rowsOf(mac);
    return rows.isEmpty() ? -1 : rows.first();
}

void CorlaTableModel::rebuildMacIndex()
{
    m_rowsByMac.clear();
    for (int row = 0; row < m_devices.size(); ++row)
        m_rowsByMac.insert(macKey(m_devices.at(row)->netHostInfo().macAddress()), row);
}

void CorlaItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const
{
    if (index.column() != CorlaTableModel::StatusColumn) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    // Indexed by ZelNetworkStatus: Reachable, Unreachable, NoIp, Pending.
    static const QColor statusColours[] = {QColor(0, 255, 0), QColor(255, 255, 0),
                                           QColor(255, 0, 0), QColor(160, 160, 164)};
    const int status = index.data().toInt();
    const bool known = status >= 0 && status < int(std::size(statusColours));
    const QColor colour = known ? statusColours[status] : QColor(255, 255, 255);
    painter->save();
    painter->fillRect(option.rect, QBrush(colour));
    painter->restore();
}
