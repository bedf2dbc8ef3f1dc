#pragma once
// The device list: one row per discovered device, keyed by MAC address, and the
// delegate that paints a row's reachability as a coloured cell.

#include "zeldevice.h"

#include <QAbstractTableModel>
#include <QList>
#include <QMultiHash>
#include <QStyledItemDelegate>
#include <QVector>

#include <memory>

class CorlaTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column
    {
        StatusColumn = 0,
        TypeColumn,
        SerialColumn,
        IpColumn,
        ModeColumn,
        MacColumn,
        NetInfoColumnCount
    };
    static constexpr int BasicColumnCount = 3;

    explicit CorlaTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Appends a row unless a row with the same MAC address exists; an empty
    // pointer is ignored.
    void addDevice(std::shared_ptr<TevDevice> device);
    void clearTable();
    bool containsDevice(const TevDevice& device) const;
    // First row with this MAC address, or an empty pointer.
    std::shared_ptr<TevDevice> device(const TevMacAddr& mac) const;
    // Row of this (source) model; the column is not looked at.
    std::shared_ptr<TevDevice> deviceAtIndex(const QModelIndex& index) const;
    const QList<std::shared_ptr<TevDevice>>& deviceList() const { return m_devices; }
    int numDevices() const { return m_devices.size(); }

    bool showNetInfo() const { return m_showNetInfo; }
    void setShowNetInfo(bool show);

    // The stored record of the row with device's MAC address becomes Pending and
    // takes the new settings; nothing happens if it is not listed.
    void updateDeviceConfig(const TevDevice& device, const TevNetHostInfo& netHostInfo);
    void updateDeviceStat(const TevDevice& device, ZelNetworkStatus status);

    // The whole list in list order, one line per device after a header line.
    QString toCsv() const;

signals:
    // After rows were appended and after a clear, never for changes inside a row.
    void deviceListChanged();

private:
    // Rows holding this MAC address, in list order (normally at most one).
    QVector<int> rowsOf(const TevMacAddr& mac) const;
    int rowOf(const TevMacAddr& mac) const;
    void rebuildMacIndex();

    QList<std::shared_ptr<TevDevice>> m_devices;
    // MAC address -> rows, so that a fleet of thousands is not searched row by row for
    // every answer and probe result. Stored records change their MAC address only
    // through updateDeviceConfig, which keeps the index up to date.
    QMultiHash<quint64, int> m_rowsByMac;
    bool m_showNetInfo = true;
};

// Paints column 0 as a solid cell in the colour of the row's network status.
class CorlaItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};
