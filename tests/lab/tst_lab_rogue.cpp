// Discovery beside a rogue sender (corla-sim --rogue-sender): at every enquiry, a second
// socket of the device side sends a header promising 16000 bytes, the largest UDP payload
// of sync bytes, a frame cut before its CRC, change and reset answers nobody asked for and
// a header left hanging, ahead of the devices' answers or between the halves of the first.
// The adapter and corla-cli must still list exactly the default fleet and report nothing
// else; answers that a request of their own asked for must still count.
#include "datarow.h"
#include "labguard.h"
#include "zelcorlaadptr.h"

#include <QProcess>
#include <QtTest>

namespace {

template <class Address> QString text(const Address& a)
{
    return QString::fromStdString(a.toString());
}

// The default fleet as corla-sim --dump-fleet lists it: the devices on dev0 are heard from
// both addresses of lab0, those on dev1 from lab1's.
const QStringList Dev0Macs = {"02:c0:1a:00:00:01", "02:c0:1a:00:00:02", "02:c0:1a:00:00:03",
                              "02:c0:1a:00:00:04", "02:c0:1a:00:00:05", "02:c0:1a:00:00:06",
                              "02:c0:1a:00:00:07", "02:c0:1a:00:00:0b", "02:c0:1a:00:00:0c",
                              "02:c0:1a:00:00:0d", "02:c0:1a:00:00:0e", "02:c0:1a:00:00:0f",
                              "02:c0:1a:00:00:11", "02:c0:1a:00:00:12", "02:c0:1a:00:00:13"};
const QStringList Dev1Macs = {"02:c0:1a:00:00:08", "02:c0:1a:00:00:09", "02:c0:1a:00:00:0a",
                              "02:c0:1a:00:00:10", "02:c0:1a:00:00:14"};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QStringList fleetMacs()
{
    return sorted(Dev0Macs + Dev1Macs);
}

// "<local address> <MAC>" for every device on every address that faces its segment.
QStringList heardPerAddress()
{
    QStringList lines;
    for (const QString& mac : Dev0Macs)
        lines << "10.10.0.1 " + mac << "10.10.1.1 " + mac;
    for (const QString& mac : Dev1Macs)
        lines << "10.20.0.1 " + mac;
    return sorted(lines);
}

QStringList distinct(QStringList list)
{
    list.removeDuplicates();
    return list;
}

// An adapter and everything it reported, as lines.
class Run : public QObject
{
public:
    explicit Run(int timeoutMs)
    {
        adapter.setTimeoutPeriod(timeoutMs);
        connect(&adapter, &ZelCorlaAdapter::deviceFound, this,
                [this](std::shared_ptr<TevDevice> d) {
                    heard << text(d->commsIfaceAddr()) + ' ' + text(d->netHostInfo().macAddress());
                });
        connect(&adapter, &ZelCorlaAdapter::deviceChanged, this,
                [this](std::shared_ptr<ZelDevice> d) {
                    events << "changed " + text(d->netHostInfo().macAddress()) + ' ' +
                                  text(d->netHostInfo().ipAddress());
                });
        connect(&adapter, &ZelCorlaAdapter::deviceReset, this,
                [this](TevMacAddr mac) { events << "reset " + text(mac); });
        connect(&adapter, &ZelCorlaAdapter::error, this,
                [this](const QString& e) { events << "error " + e; });
        connect(&adapter, &ZelCorlaAdapter::timeout, this, [this] { ++timeouts; });
    }
    // Every MAC heard, once.
    QStringList macs() const
    {
        QStringList macs;
        for (const QString& line : heard)
            macs << line.section(' ', 1);
        return sorted(distinct(macs));
    }

    ZelCorlaAdapter adapter;
    QStringList heard;
    QStringList events;
    int timeouts = 0;
};

const ZelDevice everyone(ZelDeviceType::NoDevice);

TevMacAddr macOf(const QString& mac)
{
    TevMacAddr parsed;
    return TevMacAddr::parse(mac.toStdString(), &parsed) ? parsed : TevMacAddr();
}

} // namespace

class TstLabRogue : public QObject
{
    Q_OBJECT
    CorlaLabSim m_sim;

    void rogueSwitches()
    {
        QTest::addColumn<QStringList>("args");
        row("rogue datagrams first", QStringList{"--rogue-sender"});
        row("rogue datagrams between header and payload", QStringList{"--rogue-sender", "--split"});
        row("rogue datagrams inside a split payload",
            QStringList{"--rogue-sender", "--split-at", "10"});
    }

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        QCOMPARE(corlaLabList("CORLA_LAB_HOST_ADDRS"),
                 QStringList({"10.10.0.1", "10.10.1.1", "10.20.0.1"}));
    }

    void cleanup()
    {
        const bool clean = m_sim.stop();
        if (QTest::currentTestFailed() || !clean)
            qInfo("simulator output:\n%s", qPrintable(m_sim.output()));
        QVERIFY2(clean, "the simulator did not end cleanly");
    }

    void adapterHearsOnlyTheFleet_data() { rogueSwitches(); }

    void adapterHearsOnlyTheFleet()
    {
        QFETCH(QStringList, args);
        QCOMPARE(m_sim.startOrWhy(args), QString());
        Run run(1500);
        run.adapter.netEnquire(everyone);
        QTRY_COMPARE_WITH_TIMEOUT(run.timeouts, 3, 15000);
        // One rogue volley per request, one request per local address.
        QCOMPARE(m_sim.output().count("rogue sender: 7 datagrams to "), 3);

        QCOMPARE(run.macs(), fleetMacs());
        // Every device on every address that faces its segment: nothing the rogue sent may
        // swallow a genuine answer. Answers are not held to their CRC, so the rogue's cut
        // frame may add its device on a further address; it names no device beyond the fleet.
        QStringList missing = heardPerAddress();
        for (const QString& line : qAsConst(run.heard))
            missing.removeAll(line);
        QCOMPARE(missing, QStringList());
        // The change and reset answers came unasked: none of them counts.
        QCOMPARE(run.events, QStringList());
    }

    void cliListsOnlyTheFleet_data() { rogueSwitches(); }

    void cliListsOnlyTheFleet()
    {
        QFETCH(QStringList, args);
        QCOMPARE(m_sim.startOrWhy(args), QString());
        QProcess cli;
        cli.start(QStringLiteral(CORLA_CLI_BIN), {"discover", "--wait", "1500", "--format", "csv"});
        QVERIFY(cli.waitForFinished(30000));
        const QString err = cli.readAllStandardError();
        QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0, qPrintable(err));

        QStringList lines = QString(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QVERIFY(!lines.isEmpty() && lines.takeFirst().endsWith(",MAC Address"));
        QStringList macs;
        for (const QString& line : qAsConst(lines))
            macs << line.section(',', -1);
        QCOMPARE(sorted(macs), fleetMacs());
    }

    // The plain simulator; each row starts its own, so that no reset or change carries over.
    void resetIsReported_data()
    {
        QTest::addColumn<QString>("mac");
        row("device on lab0's segment", "02:c0:1a:00:00:05");
        row("device on lab1's segment", "02:c0:1a:00:00:10");
    }

    void resetIsReported()
    {
        QFETCH(QString, mac);
        QCOMPARE(m_sim.startOrWhy({}), QString());
        Run run(800);
        run.adapter.resetDevice(macOf(mac));
        QTRY_COMPARE_WITH_TIMEOUT(run.timeouts, 3, 10000);
        // One answer per local address the device hears, while it has not gone silent.
        QCOMPARE(distinct(run.events), QStringList{"reset " + mac});
        QCOMPARE(run.heard, QStringList());
    }

    void changeVerdictIsReported_data()
    {
        QTest::addColumn<QString>("mac");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("serial");
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("event");
        row("refused: broadcast address", "02:c0:1a:00:00:02", 2, 1002, "10.10.0.255",
            "error The network configuration was rejected by Nerio LF #1002.\n\n"
            "Reason: The IP address was a broadcast address.");
        row("accepted", "02:c0:1a:00:00:0d", 13, 1013, "10.10.0.77",
            "changed 02:c0:1a:00:00:0d 10.10.0.77");
    }

    void changeVerdictIsReported()
    {
        QFETCH(QString, mac);
        QFETCH(int, type);
        QFETCH(int, serial);
        QFETCH(QString, ip);
        QFETCH(QString, event);
        QCOMPARE(m_sim.startOrWhy({}), QString());
        const TevNetHostInfo wanted(TevIpAddr(ip.toStdString()), TevIpAddr("255.255.255.0"),
                                    TevIpAddr("10.10.0.254"), TevIpAddr("10.10.0.254"), macOf(mac),
                                    TevAddressModeManual);
        Run run(800);
        run.adapter.changeNetSettings(uint16_t(serial), ZelDeviceType(type), wanted);
        QTRY_COMPARE_WITH_TIMEOUT(run.timeouts, 3, 10000);
        // Both addresses of lab0 carry the request to the device, so it may answer twice.
        QCOMPARE(distinct(run.events), QStringList{event});
    }
};

QTEST_GUILESS_MAIN(TstLabRogue)
#include "tst_lab_rogue.moc"
