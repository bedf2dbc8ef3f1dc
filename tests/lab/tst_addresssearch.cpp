// The network host pane on the lab's network. Its free-address search runs against
// real echoes on the 10.20.0.0/24 link (host side 10.20.0.1 on lab1, device side
// 10.20.0.254 on dev1); its Refresh asks a simulated device for its settings.
// The device side is given extra /32 addresses so that chosen candidates answer; an
// on-link address nobody holds stays silent, which the search takes as free.

#include "labguard.h"
#include "modalboxhandler.h"
#include "tevnethostpane.h"

#include <QtTest>
#include <QtWidgets>

namespace {

const QString kSubnet = QStringLiteral("10.20.0.");
const QString kNoAddress =
    QStringLiteral("No address!|No available addresses were found on the current subnet.");

// Runs `ip -batch -` on the lab's device side, or here on its host side.
void labIp(bool deviceSide, const QStringList& commands)
{
    QStringList args{"ip", "-batch", "-"};
    if (deviceSide)
        args = QStringList{"nsenter", "--net=" + corlaLabEnv("CORLA_LAB_DEVNS")} + args;
    QProcess ip;
    ip.setProcessChannelMode(QProcess::MergedChannels);
    ip.start(args.takeFirst(), args);
    ip.write(commands.join('\n').toLocal8Bit() + '\n');
    ip.closeWriteChannel();
    QVERIFY(ip.waitForFinished(20000));
    QVERIFY2(ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0, ip.readAll());
}

// The candidates the search announces ("Searching for ip", on-link ones by their last
// octet); other debug lines, hundreds of the echo's own in a full search, are dropped.
QStringList g_tried;
QtMessageHandler g_previousHandler = nullptr;

void searchLog(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    const QString address = text.mid(17);
    if (type != QtDebugMsg)
        g_previousHandler(type, context, text);
    else if (text.startsWith("Searching for ip "))
        g_tried << (address.startsWith(kSubnet) ? address.mid(kSubnet.size()) : address);
}

} // namespace

class TstAddressSearch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void skipsEditedAndLocalAndFindsHighestFree();
    void abortThenEveryCandidateTaken();
    void paneDestroyedMidSearchEndsCleanly();
    void refreshReadsTheEditedDeviceBack();

private:
    // Makes these candidates answer echoes (the device side's own .254 always does).
    void makeAnswer(int from, int to)
    {
        QStringList commands;
        for (int octet = from; octet <= to; ++octet) {
            m_added << kSubnet + QString::number(octet);
            commands << QStringLiteral("addr add %1/32 dev dev1").arg(m_added.last());
        }
        labIp(true, commands);
    }
    void clickSuggest() { m_pane->findChild<QPushButton*>("btnSuggest")->click(); }

    QWidget* m_window = nullptr;
    QPointer<TevNetHostPane> m_pane;
    TevNetHostInfo m_loaded;
    QStringList m_added;
    // Every message box the search opens (it runs them inside the click), as "title|text".
    QStringList m_boxes;
    std::unique_ptr<ModalBoxHandler<QMessageBox>> m_boxHandler;
};

void TstAddressSearch::initTestCase()
{
    CORLA_REQUIRE_LAB();
    QVERIFY2(corlaLabList("CORLA_LAB_HOST_ADDRS").contains(QStringLiteral("10.20.0.1")),
             "the lab has no host side on 10.20.0.0/24");
    g_previousHandler = qInstallMessageHandler(searchLog);
}

void TstAddressSearch::init()
{
    m_window = new QWidget;
    m_pane = new TevNetHostPane(m_window);
    m_loaded = TevNetHostInfo(TevIpAddr("10.20.0.100"), TevIpAddr("255.255.255.0"),
                              TevIpAddr("10.20.0.254"), TevIpAddr("10.20.0.253"),
                              TevMacAddr(std::array<uint8_t, 6>{2, 0xc0, 0x1a, 0, 0, 0x99}),
                              TevAddressModeManual);
    m_pane->setNetHostInfo(m_loaded);
    m_pane->setLocalIp(TevIpAddr("10.20.0.1"));
    m_window->show();
    g_tried.clear();
    m_boxes.clear();
    m_boxHandler = std::make_unique<ModalBoxHandler<QMessageBox>>(
        [this](QMessageBox* box) {
            m_boxes << box->windowTitle() + '|' + box->text();
            box->accept();
        },
        60000);
}

void TstAddressSearch::cleanup()
{
    m_boxHandler.reset();
    delete m_window;
    m_window = nullptr;
    QStringList commands;
    for (const QString& address : qAsConst(m_added))
        commands << QStringLiteral("addr del %1/32 dev dev1").arg(address);
    m_added.clear();
    if (!commands.isEmpty())
        labIp(true, commands);
    // A candidate that stayed silent leaves a failed neighbour entry, which would make it
    // look free at once in the next test even after it got an address.
    labIp(false, {QStringLiteral("neigh flush dev lab1")});
}

void TstAddressSearch::skipsEditedAndLocalAndFindsHighestFree()
{
    // .254 (the device side) and .253 and .251 answer; .252 is the edited address and .250
    // "this computer" (both silent, so they would be taken as free if they were tried).
    makeAnswer(253, 253);
    makeAnswer(251, 251);
    TevNetHostInfo edited = m_loaded;
    edited.setIpAddress(TevIpAddr("10.20.0.252"));
    edited.setSubnet(TevIpAddr("255.255.255.128"));
    m_pane->setNetHostInfo(edited);
    m_pane->setLocalIp(TevIpAddr("10.20.0.250"));
    QString progressTexts;
    ModalBoxHandler<QProgressDialog> progress([&](QProgressDialog* p) {
        progressTexts = p->labelText() + '|' + p->findChild<QPushButton*>()->text();
    });

    clickSuggest();

    QCOMPARE(g_tried, QStringList({"254", "253", "251", "249"}));
    QCOMPARE(progressTexts, QStringLiteral("Searching for address...|Abort"));
    QCOMPARE(m_boxes, QStringList());
    QVERIFY(!m_pane->findChild<QProgressDialog*>());
    // The found address with its classful mask, shown and stored; gateway and DNS server
    // untouched.
    TevNetHostInfo expected = edited;
    expected.setIpAddress(TevIpAddr("10.20.0.249"));
    expected.setSubnet(TevIpAddr("255.0.0.0"));
    QVERIFY(m_pane->netHostInfo() == expected);
    QCOMPARE(m_pane->findChild<TevIpEdit*>("ipeIpAddr")->address(), expected.ipAddress());
    QCOMPARE(m_pane->findChild<TevIpEdit*>("ipeSubnet")->address(), expected.subnetMask());
}

// Abort ends the search quietly on the candidate on screen; nothing is left over, so a
// second search runs to its end and warns that every candidate is taken.
void TstAddressSearch::abortThenEveryCandidateTaken()
{
    makeAnswer(2, 253);
    int abortedAt = -1;
    {
        ModalBoxHandler<QProgressDialog> progress([&](QProgressDialog* p) {
            if (abortedAt < 0 && p->value() >= 5) {
                abortedAt = p->value();
                p->findChild<QPushButton*>()->click();
            }
        });
        clickSuggest();
    }
    QVERIFY(abortedAt >= 5);
    QCOMPARE(g_tried.size(), abortedAt);
    QCOMPARE(m_boxes, QStringList());
    QVERIFY(!m_pane->findChild<QProgressDialog*>());
    QVERIFY(m_pane->netHostInfo() == m_loaded);

    g_tried.clear();
    clickSuggest();
    QCOMPARE(m_boxes, QStringList(kNoAddress));
    // 254 down to 2: this computer (.1) and the edited address (.100) are not tried.
    QCOMPARE(g_tried.size(), 252);
    QCOMPARE(g_tried.first() + ' ' + g_tried.last(), QStringLiteral("254 2"));
    QVERIFY(!g_tried.contains("100"));
    QVERIFY(m_pane->netHostInfo() == m_loaded);
}

// The deletion is delivered by the event loop that the modal progress dialog runs inside
// its update for the first candidate.
void TstAddressSearch::paneDestroyedMidSearchEndsCleanly()
{
    makeAnswer(2, 253);
    QTimer::singleShot(0, this, [this] {
        delete m_window;
        m_window = nullptr;
    });

    m_pane->onSuggestClicked();

    QVERIFY(m_pane.isNull());
    QCOMPARE(g_tried, QStringList({"254"}));
    QCOMPARE(m_boxes, QStringList());
    QVERIFY(!QApplication::activeModalWidget());
    const auto windows = QApplication::topLevelWidgets();
    QVERIFY(std::none_of(windows.begin(), windows.end(),
                         [](QWidget* w) { return qobject_cast<QProgressDialog*>(w); }));
}

void TstAddressSearch::refreshReadsTheEditedDeviceBack()
{
    const QString fleet = corlaLabEnv("CORLA_LAB_TMP") + QStringLiteral("/netpane-fleet.json");
    QFile file(fleet);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"devices": [{"type": 5, "serial": 1005, "mac": "02:c0:1a:00:00:05",
        "mode": "static", "ip": "10.10.0.15", "mask": "255.255.255.0",
        "gateway": "10.10.0.254", "dns": "10.10.0.253", "iface": "dev0"}]})");
    file.close();
    CorlaLabSim sim;
    QString why;
    QVERIFY2(sim.start({"--fleet", fleet, "--no-tcp"}, &why), qPrintable(why));
    TevMacAddr mac;
    QVERIFY(TevMacAddr::parse("02:c0:1a:00:00:05", &mac));
    m_pane->setNetHostInfo(TevNetHostInfo(TevIpAddr("10.10.0.99"), TevIpAddr("255.0.0.0"),
                                          TevIpAddr(0u), TevIpAddr(0u), mac, TevAddressModeAuto));
    m_pane->setLocalIp(TevIpAddr(0u));

    m_pane->findChild<QPushButton*>("btnRefresh")->click();

    // The device hears the enquiry from both of lab0's addresses and answers each.
    const auto local = [this] { return QString::fromStdString(m_pane->localIp().toString()); };
    QTRY_VERIFY_WITH_TIMEOUT(QStringList({"10.10.0.1", "10.10.1.1"}).contains(local()), 5000);
    QVERIFY(m_pane->netHostInfo() ==
            TevNetHostInfo(TevIpAddr("10.10.0.15"), TevIpAddr("255.255.255.0"),
                           TevIpAddr("10.10.0.254"), TevIpAddr("10.10.0.253"), mac,
                           TevAddressModeManual));
    QVERIFY(m_pane->findChild<QRadioButton*>("rbModeManual")->isChecked());
}

QTEST_MAIN(TstAddressSearch)
#include "tst_addresssearch.moc"
