// The network host pane on the lab's network. Its free-address search runs against
// real echoes on the 10.20.0.0/24 link (host side 10.20.0.1 on lab1, device side
// 10.20.0.254 on dev1); its Refresh asks a simulated device for its settings.
// The device side is given extra /32 addresses so that chosen candidates answer; an
// on-link address nobody holds stays silent, which the search takes as free.

#include "labguard.h"
#include "modalboxhandler.h"
#include "tevnethostpane.h"

#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <memory>

namespace {

const char* const kDeviceIface = "dev1";
const QString kSubnet = QStringLiteral("10.20.0.");
const TevMacAddr kMac(std::array<uint8_t, 6>{0x5e, 0x4d, 0x3c, 0x2b, 0x1a, 0x00});

TevIpAddr onLink(int lastOctet)
{
    return TevIpAddr((kSubnet + QString::number(lastOctet)).toStdString());
}

// Runs `ip -batch -` on the lab's device side, or here on its host side; false with
// the output in *why.
bool labIp(bool deviceSide, const QStringList& commands, QString* why)
{
    QStringList args{QStringLiteral("ip"), QStringLiteral("-batch"), QStringLiteral("-")};
    if (deviceSide)
        args = QStringList{QStringLiteral("nsenter"), "--net=" + corlaLabEnv("CORLA_LAB_DEVNS")} +
               args;
    QProcess ip;
    ip.setProcessChannelMode(QProcess::MergedChannels);
    const QString program = args.takeFirst();
    ip.start(program, args);
    ip.write(commands.join('\n').toLocal8Bit() + '\n');
    ip.closeWriteChannel();
    if (!ip.waitForFinished(20000) || ip.exitStatus() != QProcess::NormalExit ||
        ip.exitCode() != 0) {
        *why = QStringLiteral("ip -batch failed: ") + QString::fromLocal8Bit(ip.readAll());
        return false;
    }
    return true;
}

// The "Searching for ip" and "IP Address Found!" lines written while it lives.
class SearchLog
{
public:
    SearchLog()
    {
        s_current = this;
        m_previous = qInstallMessageHandler(&SearchLog::handle);
    }
    ~SearchLog()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }
    QStringList tried() const { return m_tried; }
    QStringList found() const { return m_found; }
    // Called with each candidate as it is announced, just before the progress shows it.
    std::function<void(const QString&)> onTried;

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        static const QString tried = QStringLiteral("Searching for ip ");
        static const QString found = QStringLiteral("IP Address Found!  ");
        // The echo's own lines (hundreds in a full search) are dropped.
        if (type == QtDebugMsg) {
            if (text.startsWith(tried)) {
                s_current->m_tried << text.mid(tried.size());
                if (s_current->onTried)
                    s_current->onTried(s_current->m_tried.last());
            } else if (text.startsWith(found))
                s_current->m_found << text.mid(found.size());
        } else if (s_current->m_previous) {
            s_current->m_previous(type, context, text);
        }
    }
    static inline SearchLog* s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    QStringList m_tried;
    QStringList m_found;
};

QStringList texts(std::initializer_list<int> lastOctets)
{
    QStringList result;
    for (int octet : lastOctets)
        result << kSubnet + QString::number(octet);
    return result;
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
    void everyCandidateTakenWarnsNoAddress();
    void abortEndsQuietly();
    void refreshReadsTheEditedDeviceBack();
    void paneDestroyedMidSearchEndsCleanly_data();
    void paneDestroyedMidSearchEndsCleanly();

private:
    // Makes these candidates answer echoes (the device side's own .254 always does).
    void makeAnswer(const QList<int>& lastOctets);
    void makeAllAnswer();
    // Watches the search's progress dialog: its properties and every value it shows.
    void watchProgress(std::function<void(QProgressDialog*)> onValue = {});

    QWidget* m_window = nullptr;
    QPointer<TevNetHostPane> m_pane;
    TevNetHostInfo m_loaded;
    QStringList m_added;
    QTimer m_progressPoll;
    QList<int> m_progressValues;
    QPointer<QProgressDialog> m_seenProgress;
};

void TstAddressSearch::initTestCase()
{
    CORLA_REQUIRE_LAB();
    QVERIFY2(corlaLabList("CORLA_LAB_HOST_ADDRS").contains(QStringLiteral("10.20.0.1")),
             "the lab has no host side on 10.20.0.0/24");
}

void TstAddressSearch::init()
{
    m_window = new QWidget;
    m_pane = new TevNetHostPane(m_window);
    m_loaded = TevNetHostInfo(onLink(100), TevIpAddr("255.255.255.0"), onLink(254),
                              TevIpAddr("10.20.0.253"), kMac, TevAddressModeManual);
    m_pane->setNetHostInfo(m_loaded);
    m_pane->setLocalIp(onLink(1));
    m_window->show();
    m_progressValues.clear();
    m_seenProgress = nullptr;
}

void TstAddressSearch::cleanup()
{
    m_progressPoll.stop();
    m_progressPoll.disconnect();
    delete m_window;
    m_window = nullptr;
    QStringList commands;
    for (const QString& address : qAsConst(m_added))
        commands << QStringLiteral("addr del %1/32 dev %2").arg(address, kDeviceIface);
    m_added.clear();
    QString why;
    if (!commands.isEmpty())
        QVERIFY2(labIp(true, commands, &why), qPrintable(why));
    // A candidate that stayed silent leaves a failed neighbour entry, which would make it
    // look free at once in the next test even after it got an address.
    QVERIFY2(labIp(false, {QStringLiteral("neigh flush dev lab1")}, &why), qPrintable(why));
}

void TstAddressSearch::makeAnswer(const QList<int>& lastOctets)
{
    QStringList commands;
    for (int octet : lastOctets) {
        const QString address = kSubnet + QString::number(octet);
        commands << QStringLiteral("addr add %1/32 dev %2").arg(address, kDeviceIface);
        m_added << address;
    }
    QString why;
    QVERIFY2(labIp(true, commands, &why), qPrintable(why));
}

void TstAddressSearch::makeAllAnswer()
{
    QList<int> all;
    for (int octet = 2; octet <= 253; ++octet)
        all << octet;
    makeAnswer(all);
}

void TstAddressSearch::watchProgress(std::function<void(QProgressDialog*)> onValue)
{
    // A modal progress dialog runs the event loop inside setValue, so a zero timer sees
    // every value the search shows.
    connect(&m_progressPoll, &QTimer::timeout, this, [this, onValue] {
        auto* progress = m_pane ? m_pane->findChild<QProgressDialog*>() : nullptr;
        if (!progress || !progress->isVisible())
            return;
        m_seenProgress = progress;
        const int value = progress->value();
        if (m_progressValues.isEmpty() || m_progressValues.last() != value) {
            m_progressValues << value;
            if (onValue)
                onValue(progress);
        }
    });
    m_progressPoll.start(0);
}

void TstAddressSearch::skipsEditedAndLocalAndFindsHighestFree()
{
    // .254 (the device side) and .253 and .251 answer; .252 is the edited address and .250
    // "this computer" (both silent, so they would be taken as free if they were tried).
    makeAnswer({253, 251});
    TevNetHostInfo edited = m_loaded;
    edited.setIpAddress(onLink(252));
    edited.setSubnet(TevIpAddr("255.255.255.128"));
    m_pane->setNetHostInfo(edited);
    m_pane->setLocalIp(onLink(250));
    QString label, cancelText;
    bool modal = false;
    int minimum = -1, maximum = -1;
    watchProgress([&](QProgressDialog* progress) {
        label = progress->labelText();
        const auto buttons = progress->findChildren<QPushButton*>();
        cancelText = buttons.isEmpty() ? QString() : buttons.first()->text();
        modal = progress->isModal() && progress->parentWidget() == m_pane;
        minimum = progress->minimum();
        maximum = progress->maximum();
    });
    ModalBoxHandler<QMessageBox> noBox([](QMessageBox* box) { box->reject(); }, 1000);
    SearchLog log;

    m_pane->findChild<QPushButton*>(QStringLiteral("btnSuggest"))->click();

    QCOMPARE(log.tried(), texts({254, 253, 251, 249}));
    QCOMPARE(log.found(), texts({249}));
    QCOMPARE(m_progressValues, (QList<int>{1, 2, 4, 6}));
    QCOMPARE(label, QStringLiteral("Searching for address..."));
    QCOMPARE(cancelText, QStringLiteral("Abort"));
    QVERIFY(modal);
    QCOMPARE(minimum, 0);
    QCOMPARE(maximum, 254);

    // The found address with its classful mask; gateway and DNS server untouched.
    TevNetHostInfo expected = edited;
    expected.setIpAddress(onLink(249));
    expected.setSubnet(TevIpAddr(TevIpAddr::defaultMask(10)));
    QVERIFY(m_pane->netHostInfo() == expected);
    QCOMPARE(m_pane->findChild<TevIpEdit*>(QStringLiteral("ipeIpAddr"))->address(), onLink(249));
    QCOMPARE(m_pane->findChild<TevIpEdit*>(QStringLiteral("ipeSubnet"))->address(),
             TevIpAddr("255.0.0.0"));
    QTest::qWait(50);
    QCOMPARE(noBox.handled(), 0);
    QVERIFY(m_seenProgress.isNull());
}

void TstAddressSearch::everyCandidateTakenWarnsNoAddress()
{
    makeAllAnswer();
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool progressHidden = false;
    ModalBoxHandler<QMessageBox> warning([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        progressHidden = !m_seenProgress || !m_seenProgress->isVisible();
        box->accept();
    });
    watchProgress();
    SearchLog log;

    m_pane->findChild<QPushButton*>(QStringLiteral("btnSuggest"))->click();

    QCOMPARE(warning.handled(), 1);
    QCOMPARE(title, QStringLiteral("No address!"));
    QCOMPARE(text, QStringLiteral("No available addresses were found on the current subnet."));
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(buttons, QMessageBox::Ok);
    QVERIFY(progressHidden);
    // 254 down to 1, less this computer (.1) and the edited address (.100).
    QCOMPARE(log.tried().size(), 252);
    QCOMPARE(log.tried().first(), kSubnet + "254");
    QCOMPARE(log.tried().last(), kSubnet + "2");
    QVERIFY(!log.tried().contains(kSubnet + "100"));
    QVERIFY(log.found().isEmpty());
    QVERIFY(m_pane->netHostInfo() == m_loaded);
}

void TstAddressSearch::abortEndsQuietly()
{
    makeAllAnswer();
    int abortedAt = -1;
    watchProgress([&](QProgressDialog* progress) {
        if (abortedAt < 0 && progress->value() >= 5) {
            abortedAt = progress->value();
            progress->findChild<QPushButton*>()->click();
        }
    });
    {
        ModalBoxHandler<QMessageBox> noBox([](QMessageBox* box) { box->reject(); });
        SearchLog log;

        m_pane->findChild<QPushButton*>(QStringLiteral("btnSuggest"))->click();

        QVERIFY(abortedAt >= 5);
        // The candidate on screen when Abort was pressed is the last one tried.
        QCOMPARE(log.tried().size(), abortedAt);
        QVERIFY(log.found().isEmpty());
        QVERIFY(m_pane->netHostInfo() == m_loaded);
        QVERIFY(m_seenProgress.isNull());
        QTest::qWait(50);
        QCOMPARE(noBox.handled(), 0);
    }

    // Nothing is left over: a second search runs to its end.
    m_progressPoll.disconnect();
    m_progressPoll.stop();
    ModalBoxHandler<QMessageBox> warning([](QMessageBox* box) { box->accept(); });
    m_pane->findChild<QPushButton*>(QStringLiteral("btnSuggest"))->click();
    QCOMPARE(warning.handled(), 1);
}

void TstAddressSearch::paneDestroyedMidSearchEndsCleanly_data()
{
    QTest::addColumn<bool>("insideProgressUpdate");
    QTest::newRow("between candidates") << false;
    QTest::newRow("inside the progress dialog's update") << true;
}

void TstAddressSearch::paneDestroyedMidSearchEndsCleanly()
{
    QFETCH(bool, insideProgressUpdate);
    makeAllAnswer();
    const auto deleteWindow = [this] {
        delete m_window;
        m_window = nullptr;
    };
    SearchLog log;
    if (insideProgressUpdate) {
        // Posted right after a candidate is announced, the deletion is delivered by the
        // event loop that the modal progress dialog runs while showing that candidate.
        log.onTried = [&](const QString& candidate) {
            if (candidate == kSubnet + "252")
                QMetaObject::invokeMethod(this, deleteWindow, Qt::QueuedConnection);
        };
    } else {
        QTimer::singleShot(0, this, deleteWindow);
    }
    ModalBoxHandler<QMessageBox> noBox([](QMessageBox* box) { box->reject(); }, 1000);

    QPointer<TevNetHostPane> pane = m_pane;
    pane->onSuggestClicked();

    QVERIFY(pane.isNull());
    QVERIFY(log.tried().size() <= 3);
    QVERIFY(log.found().isEmpty());
    QTest::qWait(50);
    QCOMPARE(noBox.handled(), 0);
    QVERIFY(!QApplication::activeModalWidget());
    const auto windows = QApplication::topLevelWidgets();
    QVERIFY(std::none_of(windows.begin(), windows.end(),
                         [](QWidget* w) { return qobject_cast<QProgressDialog*>(w); }));
}

void TstAddressSearch::refreshReadsTheEditedDeviceBack()
{
    // Two devices on lab0's link; Refresh names the first by its MAC address.
    const QString fleet = corlaLabEnv("CORLA_LAB_TMP") + QStringLiteral("/netpane-fleet.json");
    QFile file(fleet);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"devices": [
        {"type": 5, "serial": 1005, "mac": "02:c0:1a:00:00:05", "mode": "static",
         "ip": "10.10.0.15", "mask": "255.255.255.0", "gateway": "10.10.0.254",
         "dns": "10.10.0.253", "iface": "dev0"},
        {"type": 7, "serial": 1007, "mac": "02:c0:1a:00:00:07", "mode": "dhcp",
         "ip": "10.10.0.17", "mask": "255.255.255.0", "iface": "dev0"}]})");
    file.close();
    CorlaLabSim sim;
    QString why;
    QVERIFY2(sim.start({QStringLiteral("--fleet"), fleet, QStringLiteral("--no-tcp")}, &why),
             qPrintable(why));

    TevMacAddr mac;
    QVERIFY(TevMacAddr::parse("02:c0:1a:00:00:05", &mac));
    TevNetHostInfo edited(TevIpAddr("10.10.0.99"), TevIpAddr("255.0.0.0"), TevIpAddr(0u),
                          TevIpAddr(0u), mac, TevAddressModeAuto);
    m_pane->setNetHostInfo(edited);
    m_pane->setLocalIp(TevIpAddr(0u));

    m_pane->findChild<QPushButton*>(QStringLiteral("btnRefresh"))->click();
    QVERIFY(m_pane->netHostInfo() == edited); // nothing happens before the answer

    // The device hears the enquiry from both of lab0's addresses and answers each.
    const QStringList lab0{QStringLiteral("10.10.0.1"), QStringLiteral("10.10.1.1")};
    const auto localText = [this] { return QString::fromStdString(m_pane->localIp().toString()); };
    QTRY_VERIFY_WITH_TIMEOUT(lab0.contains(localText()), 5000);
    const TevNetHostInfo expected(TevIpAddr("10.10.0.15"), TevIpAddr("255.255.255.0"),
                                  TevIpAddr("10.10.0.254"), TevIpAddr("10.10.0.253"), mac,
                                  TevAddressModeManual);
    QVERIFY(m_pane->netHostInfo() == expected);
    QCOMPARE(m_pane->findChild<QLabel*>(QStringLiteral("lblThisCompIp"))->text(), localText());
    QCOMPARE(m_pane->findChild<TevIpEdit*>(QStringLiteral("ipeIpAddr"))->address(),
             TevIpAddr("10.10.0.15"));
    QVERIFY(m_pane->findChild<QRadioButton*>(QStringLiteral("rbModeManual"))->isChecked());
    QTest::qWait(200);
    QVERIFY(m_pane->netHostInfo() == expected);
}

QTEST_MAIN(TstAddressSearch)
#include "tst_addresssearch.moc"
