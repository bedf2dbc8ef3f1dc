// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tests/support/datarow.h"
#include "tests/support/testdevice.h"
#include "ui/devicetablemodel.h"

#include <QSortFilterProxyModel>
#include <QtTest>

using namespace corla;

class TestCorlaTable : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_model = new DeviceTableModel;
        new QAbstractItemModelTester(m_model, m_model); // checks every change; a child of the model
    }
    void cleanup() { delete m_model; }

    void displayValues()
    {
        append(8, 4321, "192.168.1.9", "00:1a:2b:3c:4d:01", AddressModeDhcp, "192.168.1.1",
               "192.168.1.53");
        append(8, 4327, "192.168.1.9", "00:1a:2b:3c:4d:07", AddressMode(7));
        QCOMPARE(
            rows(DeviceTableModel::ColumnCount),
            QStringList({"Waiting|Host Controller|4321|192.168.1.9|DHCP|00:1a:2b:3c:4d:01|"
                         "255.255.255.0|192.168.1.1|192.168.1.53|10.10.0.1|Waiting for a probe",
                         "Waiting|Host Controller|4327|192.168.1.9|Unknown|00:1a:2b:3c:4d:07|"
                         "255.255.255.0|0.0.0.0|0.0.0.0|10.10.0.1|Waiting for a probe"}));
        const QModelIndex cell = m_model->index(0, 2);
        QCOMPARE(cell.data(Qt::EditRole), QVariant(4321u)); // a proxy sorts ushort as text
        QVERIFY(!(cell.flags() & Qt::ItemIsEditable));
        QCOMPARE(m_model->deviceAtIndex(m_model->index(1, 4)), m_model->deviceList().at(1));
        QVERIFY(!m_model->deviceAtIndex(m_model->index(2, 0)));
        QSignalSpy removed(m_model, &QAbstractItemModel::columnsRemoved);
        m_model->setShowNetInfo(false);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(rows().at(0), QString("Waiting|Host Controller|4321"));
    }

    // Status word and explanation, shown and accessible, from reason, address and silence.
    void statusWords_data()
    {
        QTest::addColumn<int>("netStat");
        QTest::addColumn<int>("probe"); // a ProbeReason, or -1 for none
        columns<QString, QString, QString, QString>({"reason", "ip", "word", "tip"});
        const QString cable = "Check the cable and that the device is powered.";
        row("refused", 1, 1, "", "10.10.0.5", "Refused",
            "Refused: the device is there but turned away a connection on TCP port 21. Wait "
            "until it has finished starting, or reset it.");
        row("nobody at the address", 1, 3, "", "10.10.0.5", "No answer",
            "No answer: nothing on the network answers for 10.10.0.5. " + cable);
        row("no route", 1, 4, "", "172.16.0.9", "Off-network",
            "Off-network: this computer has no route to 172.16.0.9. Give the device an address "
            "on this computer's network with Configure.");
        row("loopback", 1, 7, "", "127.0.0.1", "No IP",
            "No IP address a device can have: 127.0.0.1 is a loopback address. Give it one with "
            "Configure.");
        row("silent in the last enquiry", 4, -1, "No answer since 12:00:00", "10.10.0.5",
            "No answer", "No answer since 12:00:00. " + cable);
        row("pending again", 3, 1, "", "10.10.0.5", "Waiting", "Waiting for a probe");
    }
    void statusWords()
    {
        QFETCH(int, netStat);
        QFETCH(int, probe);
        QFETCH(QString, reason);
        QFETCH(QString, ip);
        QFETCH(QString, word);
        QFETCH(QString, tip);
        append(8, 4321, qPrintable(ip), "00:1a:2b:3c:4d:01");
        const auto device = m_model->deviceList().first();
        QSignalSpy changed(m_model, &QAbstractItemModel::dataChanged);
        if (probe >= 0)
            m_model->setProbeReason(*device, ProbeReason(probe));
        if (!reason.isEmpty())
            m_model->setStatusReason(device->netHostInfo().macAddress(), reason);
        QCOMPARE(changed.count(), 2 * (int(probe >= 0) + int(!reason.isEmpty())));
        m_model->list().setStatus(device->netHostInfo().macAddress(), Reachability(netStat));
        const QModelIndex status = m_model->index(0, DeviceTableModel::StatusColumn);
        QCOMPARE((QStringList{status.data().toString(), status.data(Qt::ToolTipRole).toString(),
                              status.data(Qt::AccessibleTextRole).toString(),
                              m_model->index(0, DeviceTableModel::ReasonColumn).data().toString()}),
                 (QStringList{word, tip, tip, tip}));
        QCOMPARE(m_model->index(0, DeviceTableModel::IpColumn).data(Qt::ToolTipRole), QVariant());
    }

    void listChangesReachViews()
    {
        QSignalSpy listChanged(m_model, &DeviceTableModel::deviceListChanged);
        QSignalSpy inserted(m_model, &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(m_model, &QAbstractItemModel::dataChanged);
        QSignalSpy reset(m_model, &QAbstractItemModel::modelReset);
        DeviceList& list = m_model->list();
        for (const char* mac : {"00:1a:2b:3c:4d:01", "00:1a:2b:3c:4d:02", "00:1a:2b:3c:4d:03"})
            list.merge(testDevice(DeviceType::NerioHF, 1, mac, "10.0.0.1", AddressModeDhcp));
        QCOMPARE((QList<int>{inserted.count(), listChanged.count()}), (QList<int>{3, 3}));

        list.merge(testDevice(DeviceType::NerioHF, 2, "00:1a:2b:3c:4d:02", "172.16.5.5"));
        list.setStatus(macOf("00:1a:2b:3c:4d:03"), Reachability::Unreachable);
        QCOMPARE((QList<int>{inserted.count(), listChanged.count()}), (QList<int>{3, 3}));
        // A status change notes its cell and the reason's alone, never spanning the sort column.
        const auto at = [](const QVariant& index) {
            return QString::number(index.toModelIndex().row()) + ',' +
                   QString::number(index.toModelIndex().column());
        };
        QStringList spans; // of each change
        for (const QList<QVariant>& args : changed)
            spans << at(args.at(0)) + '-' + at(args.at(1));
        QCOMPARE(spans.join(' '), QStringLiteral("1,0-1,10 2,0-2,0 2,10-2,10"));
        QCOMPARE(rows(), QStringList({"Waiting|Nerio HF|1|10.0.0.1|DHCP|00:1a:2b:3c:4d:01",
                                      "Waiting|Nerio HF|1|172.16.5.5|Static|00:1a:2b:3c:4d:02",
                                      "No answer|Nerio HF|1|10.0.0.1|DHCP|00:1a:2b:3c:4d:03"}));

        list.clear();
        QCOMPARE((QList<int>{m_model->rowCount(), reset.count(), listChanged.count()}),
                 (QList<int>{0, 1, 4}));
    }

    // On the sort role addresses and serials sort as numbers, the status in its words' order.
    void sortsThroughProxy()
    {
        append(8, 100, "10.10.0.103", "00:1a:2b:3c:4d:5e");
        append(5, 9, "10.10.0.11", "00:1a:2b:3c:4d:01");
        append(20, 65535, "9.200.0.1", "00:1a:2b:3c:4d:ff");
        append(8, 10, "0.0.0.0", "00:1a:2b:3c:4d:02");
        m_model->list().setStatus(macOf("00:1a:2b:3c:4d:5e"), Reachability::Pending);
        m_model->list().setStatus(macOf("00:1a:2b:3c:4d:01"), Reachability::NoIp);
        m_model->list().setStatus(macOf("00:1a:2b:3c:4d:ff"), Reachability::Reachable);
        m_model->setProbeReason(*m_model->deviceList().at(3), ProbeReason::Refused);
        m_model->list().setStatus(macOf("00:1a:2b:3c:4d:02"), Reachability::Unreachable);
        QSortFilterProxyModel proxy;
        proxy.setSourceModel(m_model);
        proxy.setSortRole(DeviceTableModel::SortRole);
        const auto sorted = [&](int column, Qt::SortOrder order) {
            proxy.sort(column, order);
            QStringList shown;
            for (int row = 0; row < proxy.rowCount(); ++row)
                shown << proxy.index(row, column).data().toString();
            return shown;
        };
        QCOMPARE(sorted(DeviceTableModel::IpColumn, Qt::AscendingOrder),
                 QStringList({"0.0.0.0", "9.200.0.1", "10.10.0.11", "10.10.0.103"}));
        QCOMPARE(sorted(DeviceTableModel::IpColumn, Qt::DescendingOrder),
                 QStringList({"10.10.0.103", "10.10.0.11", "9.200.0.1", "0.0.0.0"}));
        QCOMPARE(sorted(DeviceTableModel::SerialColumn, Qt::AscendingOrder),
                 QStringList({"9", "10", "100", "65535"}));
        QCOMPARE(sorted(DeviceTableModel::StatusColumn, Qt::AscendingOrder),
                 QStringList({"Reachable", "Refused", "No IP", "Waiting"}));
        QCOMPARE(sorted(DeviceTableModel::TypeColumn, Qt::AscendingOrder).first(),
                 QString("Host Controller"));
    }

private:
    // Every row's display values joined by '|', of the columns before `end`.
    QStringList rows(int end = DeviceTableModel::FirstOptionalColumn) const
    {
        QStringList all;
        for (int row = 0; row < m_model->rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < std::min(end, m_model->columnCount()); ++column)
                cells << m_model->index(row, column).data().toString();
            all << cells.join('|');
        }
        return all;
    }
    void append(int type, uint16_t serial, const char* ip, const char* mac,
                AddressMode mode = AddressModeDhcp, const char* gateway = "0.0.0.0",
                const char* dns = "0.0.0.0")
    {
        m_model->list().append(testDevice(DeviceType(type), serial, mac, ip, mode, gateway, dns));
    }

    DeviceTableModel* m_model = nullptr;
};

QTEST_MAIN(TestCorlaTable)
#include "tst_devicetablemodel.moc"
