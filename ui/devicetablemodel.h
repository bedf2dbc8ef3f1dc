// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The device list as the window's table: one row per entry of a DeviceList, and the
// delegate that paints a row's reachability as a coloured cell with its word.

#include "core/fleet/devicelist.h"
#include "core/net/portprobescheduler.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QHash>
#include <QStyledItemDelegate>

#include <memory>
#include <optional>

namespace corla {

// What the status cell says about a row, in the order the status column sorts by.
enum class RowStatus
{
    Reachable,  // port 21 accepted a connection
    Refused,    // the device is there, but turned the connection away
    NoAnswer,   // nothing came back: to the probe, or to the latest enquiry
    NoIp,       // no address, or one that no device can have
    OffNetwork, // not reachable from this computer's networks
    Conflict,   // two senders disagree about the row's device
    Waiting,    // no verdict yet
};
constexpr int RowStatusCount = int(RowStatus::Waiting) + 1;

// "Reachable", "Refused", "No answer", "No IP", "Off-network", "Conflict", "Waiting".
QString statusWord(RowStatus status);
// The cell's colour, the same in the table and in its legend.
QColor statusColour(RowStatus status);
// Black or white, whichever reads better on the status colour.
QColor statusTextColour(RowStatus status);

class DeviceTableModel : public QAbstractTableModel
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
        // Shown on request (the window hides them at first).
        SubnetColumn,
        GatewayColumn,
        DnsColumn,
        InterfaceColumn, // the local address the device answered on
        ReasonColumn,    // why the row has its status, on one line
        ColumnCount
    };
    static constexpr int BasicColumnCount = 3;
    static constexpr int FirstOptionalColumn = SubnetColumn;
    // On the status cell: true while two senders disagree about the row's device.
    static constexpr int ConflictRole = Qt::UserRole + 1;
    // What a sort proxy compares (QSortFilterProxyModel::setSortRole): the status's place in
    // RowStatus on the status cell, addresses as their 32-bit values, the serial as a
    // number, and the display text elsewhere.
    static constexpr int SortRole = Qt::UserRole + 2;
    // On the status cell: the row's RowStatus as an int. The display text is its word.
    static constexpr int StatusRole = Qt::UserRole + 3;

    explicit DeviceTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The devices behind the rows. Every change made through it reaches the views.
    DeviceList& list() { return m_list; }
    const DeviceList& list() const { return m_list; }

    // Row of this (source) model; the column is not looked at.
    std::shared_ptr<Device> deviceAtIndex(const QModelIndex& index) const;
    std::shared_ptr<Device> device(const MacAddress& mac) const { return m_list.find(mac); }
    const DeviceList::Devices& deviceList() const { return m_list.devices(); }
    int numDevices() const { return m_list.size(); }
    // The export of the whole list in row order.
    QString toCsv() const;

    bool showNetInfo() const { return m_showNetInfo; }
    void setShowNetInfo(bool show);

    // Why the row has its colour: its word, and the status cell's tooltip and accessible
    // text. The outcome of the latest probe of `device` (the copy that was probed):
    void setProbeReason(const Device& device, ProbeReason reason);
    // ... or a reason in words, such as "No answer since 12:00:00" for a device that did not
    // answer the latest enquiry. A row without either (not probed yet, or pending again) is
    // waiting; a conflicting row tells of its conflict instead.
    void setStatusReason(const MacAddress& mac, const QString& reason);
    void clearStatusReasons();

    // The row's status as its cell shows it.
    RowStatus status(const Device& device) const;

signals:
    // After rows were appended and after a clear, never for changes inside a row.
    void deviceListChanged();

private:
    struct Reason
    {
        std::optional<ProbeReason> probe;
        QString text;        // a reason in words, when there is no probe reason
        QString offNetwork;  // offNetworkNote of the probed device
        uint32_t probedIp{}; // the address the probe went to
    };

    void reasonChanged(const MacAddress& mac);
    // The status cell and the reason cell of the row.
    void statusCellsChanged(int row);
    QString statusExplanation(const Device& device) const;

    DeviceList m_list;
    bool m_showNetInfo = true;
    QHash<quint64, Reason> m_reasons; // by macKey
};

// Paints column 0 as a solid cell in the colour of the row's status with its word on it.
// A selected row keeps the colour and gets a frame in the palette's highlight colour.
class DeviceItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

} // namespace corla
