// Corla itself against the simulator's default fleet: the real binary (offscreen) lists
// every device once with the colour its port 21 deserves, and the real window configures
// a device to a static address and resets another.
#include "corlamainwin.h"
#include "corlamainwin_form.h"
#include "labguard.h"
#include "modalboxhandler.h"
#include "tevipedit.h"

#include <QDialogButtonBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct FleetDevice
{
    QString mac;
    QString ip;
    bool port21 = false;
    bool dhcp = false;
};

QList<FleetDevice> defaultFleet()
{
    QProcess sim;
    sim.start(qEnvironmentVariable("CORLA_SIM"), {QStringLiteral("--dump-fleet")});
    if (!sim.waitForFinished(10000))
        return {};
    QList<FleetDevice> fleet;
    const auto devices = QJsonDocument::fromJson(sim.readAllStandardOutput())
                             .object()
                             .value(QStringLiteral("devices"))
                             .toArray();
    for (const auto& value : devices) {
        const QJsonObject d = value.toObject();
        fleet.append({d.value("mac").toString(), d.value("ip").toString(),
                      d.value("port21").toBool(), d.value("mode").toString() == "dhcp"});
    }
    return fleet;
}

// What the probe of port 21 must find: only devices on the host's own subnets are routable.
ZelNetworkStatus deservedStatus(const FleetDevice& device)
{
    if (device.ip == QLatin1String("0.0.0.0"))
        return ZelNetworkStatus::NoIp;
    const bool routable = device.ip.startsWith(QLatin1String("10.10.0.")) ||
                          device.ip.startsWith(QLatin1String("10.10.1.")) ||
                          device.ip.startsWith(QLatin1String("10.20.0."));
    return routable && device.port21 ? ZelNetworkStatus::Reachable : ZelNetworkStatus::Unreachable;
}

} // namespace

class TestLabCorla : public QObject
{
    Q_OBJECT

    QList<FleetDevice> m_fleet;

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        m_fleet = defaultFleet();
        QVERIFY2(m_fleet.size() >= 10, "corla-sim --dump-fleet gave no fleet");
    }

    void realBinaryListsFleetOnceWithDeservedColours()
    {
        QTemporaryDir dir;
        const QString shot = dir.filePath(QStringLiteral("corla.png"));
        QProcess corla;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("CORLA_SNAPSHOT"), shot);
        // Absent hosts take the full 4 s probe limit; the rest answer at once.
        env.insert(QStringLiteral("CORLA_SNAPSHOT_AFTER_MS"), QStringLiteral("5500"));
        corla.setProcessEnvironment(env);
        corla.setProcessChannelMode(QProcess::MergedChannels);
        corla.start(QStringLiteral(CORLA_BIN), QStringList());
        QVERIFY2(corla.waitForFinished(30000), qPrintable(corla.errorString()));
        QCOMPARE(corla.exitCode(), 0);
        const QString log = QString::fromLocal8Bit(corla.readAll());

        // One enquiry from each local address of the lab's host side.
        const QStringList hostAddrs = qEnvironmentVariable("CORLA_LAB_HOST_ADDRS").split(' ');
        QCOMPARE(log.count(QStringLiteral("Sending Command: 2a570b00")), hostAddrs.size());
        for (const QString& addr : hostAddrs)
            QVERIFY2(log.contains(QStringLiteral("from interface: ") + addr + " : "),
                     qPrintable(addr));

        QFile rowsFile(shot + QStringLiteral(".rows"));
        QVERIFY(rowsFile.open(QIODevice::ReadOnly));
        QMap<QString, int> statusByMac;
        for (const QByteArray& line : rowsFile.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            const QList<QByteArray> fields = line.split(',');
            QCOMPARE(fields.size(), 9);
            const QString mac = QString::fromLatin1(fields[8]);
            QVERIFY2(!statusByMac.contains(mac), qPrintable("listed twice: " + mac));
            statusByMac.insert(mac, fields[0].toInt());
        }
        QCOMPARE(statusByMac.size(), m_fleet.size());
        for (const FleetDevice& device : m_fleet) {
            QVERIFY2(statusByMac.contains(device.mac), qPrintable("missing: " + device.mac));
            QVERIFY2(statusByMac.value(device.mac) == int(deservedStatus(device)),
                     qPrintable(QStringLiteral("%1 at %2: status %3")
                                    .arg(device.mac, device.ip)
                                    .arg(statusByMac.value(device.mac))));
        }
        QVERIFY(QImage(shot).width() > 0);
    }

    void windowConfiguresStaticAddressAndResets()
    {
        ZelCorlaAdapter adapter;
        ZelConnectionChecker checker;
        MainWindow window(&adapter, &checker);
        window.show();
        QTRY_COMPARE_WITH_TIMEOUT(window.model().numDevices(), m_fleet.size(), 5000);

        // A reachable static device on the first lab subnet moves to a free address there.
        std::shared_ptr<TevDevice> device;
        for (const FleetDevice& d : m_fleet)
            if (!d.dhcp && d.ip.startsWith(QLatin1String("10.10.0.")) &&
                deservedStatus(d) == ZelNetworkStatus::Reachable) {
                TevMacAddr mac;
                QVERIFY(TevMacAddr::parse(d.mac.toStdString(), &mac));
                device = window.model().device(mac);
                break;
            }
        QVERIFY(device);
        QTRY_COMPARE_WITH_TIMEOUT(device->netStat(), ZelNetworkStatus::Reachable, 5000);

        const TevIpAddr newAddress("10.10.0.61");
        QList<QString> boxes;
        ModalBoxHandler<QMessageBox> answerBoxes(
            [&boxes](QMessageBox* box) {
                boxes << box->windowTitle();
                box->accept();
            },
            60000);
        ModalBoxHandler<QDialog> configure([&newAddress](QDialog* dialog) {
            if (qobject_cast<QMessageBox*>(dialog) || !dialog->isVisible())
                return;
            auto* ip = dialog->findChild<TevIpEdit*>(QStringLiteral("ipeIpAddr"));
            QVERIFY(ip && dialog->findChild<QRadioButton*>("rbModeManual")->isChecked());
            ip->setAddress(newAddress);
            emit ip->editingFinished();
            for (QAbstractButton* b : dialog->findChild<QDialogButtonBox*>()->buttons())
                if (b->text() == QLatin1String("Send to Device"))
                    b->click();
        });
        window.openConfigDialog(*device);

        // The change answer re-addresses the row, the probe turns it green at the new place.
        QTRY_COMPARE_WITH_TIMEOUT(device->netHostInfo().ipAddress(), newAddress, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(device->netStat(), ZelNetworkStatus::Reachable, 6000);
        QTRY_VERIFY(boxes.contains(QStringLiteral("Change Accepted")));
        QCOMPARE(boxes.count(QStringLiteral("Change Accepted")), 1);
        // The request went out from both addresses of lab0; the second copy must not end
        // the change in a refusal.
        QTest::qWait(300);
        QVERIFY2(!boxes.contains(QStringLiteral("Corla Error!")), qPrintable(boxes.join(", ")));

        // Reset it: the row greys out once the device answers.
        auto* proxy = qobject_cast<QSortFilterProxyModel*>(window.ui()->tblMainTableView->model());
        const int row = window.model().deviceList().indexOf(device);
        window.ui()->tblMainTableView->selectRow(
            proxy->mapFromSource(window.model().index(row, 0)).row());
        QVERIFY(window.ui()->btnReset->isEnabled());
        QTest::mouseClick(window.ui()->btnReset, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(boxes.contains(QStringLiteral("Device Resetting")), 5000);
        QCOMPARE(device->netStat(), ZelNetworkStatus::Pending);
    }
};

QTEST_MAIN(TestLabCorla)
#include "tst_lab_corla.moc"
