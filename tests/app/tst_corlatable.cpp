#include "corlatable.h"
#include "testdevice.h"

#include <QImage>
#include <QPainter>
#include <QSortFilterProxyModel>
#include <QtTest>

class TestCorlaTable : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_model = new CorlaTableModel;
        new QAbstractItemModelTester(m_model, m_model); // checks every change; a child of the model
    }
    void cleanup() { delete m_model; }

    void displayValues()
    {
        append(8, 4321, "192.168.1.9", "00:1a:2b:3c:4d:01", TevAddressModeAuto);
        append(8, 4327, "192.168.1.9", "00:1a:2b:3c:4d:07", TevAddressMode(7));
        QCOMPARE(rows(),
                 QStringList({"4|Host Controller|4321|192.168.1.9|DHCP|00:1a:2b:3c:4d:01",
                              "4|Host Controller|4327|192.168.1.9|Unknown|00:1a:2b:3c:4d:07"}));
        const QModelIndex cell = m_model->index(0, 2);
        // The edit role too, unsigned: a sort proxy compares ushort values as text.
        QCOMPARE(cell.data(Qt::EditRole), QVariant(4321u));
        QVERIFY(!(cell.flags() & Qt::ItemIsEditable));
        QCOMPARE(m_model->deviceAtIndex(m_model->index(1, 4)), m_model->deviceList().at(1));
        QVERIFY(!m_model->deviceAtIndex(m_model->index(2, 0)));

        // The reduced table shows the first three columns only; views hear of the change.
        QSignalSpy removed(m_model, &QAbstractItemModel::columnsRemoved);
        m_model->setShowNetInfo(false);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(rows().at(0), QString("4|Host Controller|4321"));
    }

    // The list signal comes on append and clear only; changes inside a row reach the views as
    // changed cells.
    // The status cell says why the row has its colour, to the eye and to screen readers;
    // a row pending again (Refresh) waits for its new verdict.
    void statusReason()
    {
        append(8, 4321, "192.168.1.9", "00:1a:2b:3c:4d:01");
        const TevMacAddr mac = macOf("00:1a:2b:3c:4d:01");
        const QModelIndex status = m_model->index(0, CorlaTableModel::StatusColumn);
        QCOMPARE(status.data(Qt::ToolTipRole).toString(), QString("Waiting for a probe"));
        QSignalSpy changed(m_model, &QAbstractItemModel::dataChanged);
        m_model->list().setStatus(mac, ZelNetworkStatus::Unreachable);
        m_model->setStatusReason(mac, "connection refused");
        QVERIFY(changed.count() >= 1);
        QCOMPARE(status.data(Qt::ToolTipRole).toString(),
                 QString("Unreachable: connection refused"));
        QCOMPARE(status.data(Qt::AccessibleTextRole), status.data(Qt::ToolTipRole));
        QCOMPARE(m_model->index(0, CorlaTableModel::IpColumn).data(Qt::ToolTipRole), QVariant());
        m_model->list().setStatus(mac, ZelNetworkStatus::Pending);
        QCOMPARE(status.data(Qt::ToolTipRole).toString(), QString("Waiting for a probe"));
    }

    void listChangesReachViews()
    {
        QSignalSpy listChanged(m_model, &CorlaTableModel::deviceListChanged);
        QSignalSpy inserted(m_model, &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(m_model, &QAbstractItemModel::dataChanged);
        QSignalSpy reset(m_model, &QAbstractItemModel::modelReset);
        CorlaDeviceList& list = m_model->list();
        for (const char* mac : {"00:1a:2b:3c:4d:01", "00:1a:2b:3c:4d:02", "00:1a:2b:3c:4d:03"})
            list.merge(testDevice(ZelDeviceType::NerioHF, 1, mac, "10.0.0.1", TevAddressModeAuto));
        QCOMPARE(inserted.count(), 3);
        QCOMPARE(listChanged.count(), 3);

        list.merge(testDevice(ZelDeviceType::NerioHF, 2, "00:1a:2b:3c:4d:02", "172.16.5.5"));
        list.setStatus(macOf("00:1a:2b:3c:4d:03"), ZelNetworkStatus::Unreachable);
        QCOMPARE(inserted.count(), 3);
        QCOMPARE(listChanged.count(), 3);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(0).at(0).toModelIndex(), m_model->index(1, 0));
        QCOMPARE(changed.at(0).at(1).toModelIndex(), m_model->index(1, 5));
        QCOMPARE(changed.at(1).at(0).toModelIndex(), m_model->index(2, 0));
        QCOMPARE(changed.at(1).at(1).toModelIndex(), m_model->index(2, 0));
        QCOMPARE(rows(), QStringList({"4|Nerio HF|1|10.0.0.1|DHCP|00:1a:2b:3c:4d:01",
                                      "3|Nerio HF|1|172.16.5.5|Static|00:1a:2b:3c:4d:02",
                                      "1|Nerio HF|1|10.0.0.1|DHCP|00:1a:2b:3c:4d:03"}));

        list.clear();
        QCOMPARE(m_model->rowCount(), 0);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(listChanged.count(), 4);
    }

    // Through a sort proxy, serials sort as numbers and addresses as text.
    void sortsThroughProxy()
    {
        append(8, 100, "192.168.1.10", "00:1a:2b:3c:4d:5e");
        append(5, 9, "192.168.1.9", "00:1a:2b:3c:4d:01");
        append(20, 65535, "0.0.0.0", "00:1a:2b:3c:4d:ff");
        QSortFilterProxyModel proxy;
        proxy.setSourceModel(m_model);
        const auto sorted = [&](int column) {
            proxy.sort(column, Qt::AscendingOrder);
            QStringList shown;
            for (int row = 0; row < proxy.rowCount(); ++row)
                shown << proxy.index(row, column).data().toString();
            return shown;
        };
        QCOMPARE(sorted(2), QStringList({"9", "100", "65535"}));
        QCOMPARE(sorted(3), QStringList({"0.0.0.0", "192.168.1.10", "192.168.1.9"}));
    }

    void delegate_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("column");
        QTest::addColumn<QColor>("colour"); // none: painted as the base delegate paints

        QTest::newRow("Reachable green") << 0 << 0 << QColor(0, 255, 0);
        QTest::newRow("Unreachable yellow") << 1 << 0 << QColor(255, 255, 0);
        QTest::newRow("NoIp red") << 2 << 0 << QColor(255, 0, 0);
        QTest::newRow("Pending grey") << 3 << 0 << QColor(160, 160, 164);
        QTest::newRow("NotFound white") << 4 << 0 << QColor(255, 255, 255);
        QTest::newRow("out of range white") << 9 << 0 << QColor(255, 255, 255);
        QTest::newRow("type column painted normally") << 0 << 1 << QColor();
    }

    // Column 0 is one solid colour: selection and focus must not show through, and the
    // painter's state is handed back as it came.
    void delegate()
    {
        QFETCH(int, status);
        QFETCH(int, column);
        QFETCH(QColor, colour);

        append(8, 1, "10.0.0.1", "00:1a:2b:3c:4d:01");
        m_model->deviceList().first()->setNetStat(static_cast<ZelNetworkStatus>(status));
        QStyleOptionViewItem option;
        option.rect = QRect(4, 2, 150, 16);
        option.state = QStyle::State_Enabled | QStyle::State_Selected | QStyle::State_HasFocus;
        const auto render = [&](const QStyledItemDelegate& delegate) {
            QImage image(160, 20, QImage::Format_RGB32);
            image.fill(Qt::magenta);
            QPainter painter(&image);
            painter.setPen(Qt::black);
            delegate.paint(&painter, option, m_model->index(0, column));
            const bool penKept = painter.pen().color() == Qt::black;
            painter.end();
            return penKept ? image : QImage();
        };

        QImage expected = render(QStyledItemDelegate());
        if (colour.isValid())
            QPainter(&expected).fillRect(option.rect, colour);
        QCOMPARE(render(CorlaItemDelegate()), expected);
    }

private:
    // Every row's display values joined by '|'.
    QStringList rows() const
    {
        QStringList all;
        for (int row = 0; row < m_model->rowCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < m_model->columnCount(); ++column)
                cells << m_model->index(row, column).data().toString();
            all << cells.join('|');
        }
        return all;
    }
    void append(int type, uint16_t serial, const char* ip, const char* mac,
                TevAddressMode mode = TevAddressModeAuto)
    {
        m_model->list().append(testDevice(ZelDeviceType(type), serial, mac, ip, mode));
    }

    CorlaTableModel* m_model = nullptr;
};

QTEST_MAIN(TestCorlaTable)
#include "tst_corlatable.moc"
