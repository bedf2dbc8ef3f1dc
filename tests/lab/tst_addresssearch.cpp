// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The network host pane's free-address search in a --small-net lab, taken hosts and full networks.
#include "tests/support/datarow.h"
#include "tests/support/labguard.h"
#include "tests/support/modalboxhandler.h"
#include "tests/support/testdevice.h"
#include "ui/networksettingspane.h"

#include <QtTest>
#include <QtWidgets>

using namespace corla;

namespace {

const QString kSubnet = QStringLiteral("10.20.0.");

// Runs `ip` on the lab's device side, `input` on its standard input.
bool deviceSideIp(const QStringList& args, const QByteArray& input = {})
{
    QProcess ip;
    ip.start("nsenter", QStringList{"--net=" + corlaLabEnv("CORLA_LAB_DEVNS"), "ip"} + args);
    ip.write(input);
    ip.closeWriteChannel();
    return ip.waitForFinished(20000) && ip.exitStatus() == QProcess::NormalExit &&
           ip.exitCode() == 0;
}

// Adds or deletes each candidate from .2 to .253 (the device side's own .254 always answers).
void onEveryCandidate(const char* command)
{
    QByteArray batch;
    for (int octet = 2; octet <= 253; ++octet)
        batch += QStringLiteral("addr %1 %2%3/32 dev dev1\n")
                     .arg(command, kSubnet)
                     .arg(octet)
                     .toLatin1();
    QVERIFY(deviceSideIp({"-batch", "-"}, batch));
}

// The candidates the search announces, by last octet; other debug lines are dropped.
QStringList g_tried;
QtMessageHandler g_previousHandler = nullptr;

void searchLog(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtDebugMsg)
        g_previousHandler(type, context, text);
    else if (text.startsWith("Searching for ip " + kSubnet))
        g_tried << text.mid(17 + kSubnet.size());
}

} // namespace

class TstAddressSearch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        QVERIFY2(corlaLabList("CORLA_LAB_HOST_ADDRS").contains(QStringLiteral("10.20.0.1")),
                 "the lab has no host side on 10.20.0.0/24");
        QCOMPARE(corlaLabEnv("CORLA_LAB_SMALL_NET"), QStringLiteral("10.10.2.0/28"));
        QLoggingCategory::setFilterRules(QStringLiteral("corla.*.debug=true"));
        g_previousHandler = qInstallMessageHandler(searchLog);
        onEveryCandidate("add");
    }
    void cleanupTestCase() { onEveryCandidate("del"); }

    void init()
    {
        m_window = new QWidget;
        m_pane = new NetworkSettingsPane(m_window);
        m_pane->setNetHostInfo(m_loaded);
        m_pane->setLocalIp(Ipv4Address("10.20.0.1"));
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
    void cleanup()
    {
        m_boxHandler.reset();
        delete std::exchange(m_window, nullptr);
    }

    void candidates_data()
    {
        columns<QString, QString>({"local", "mask"});
        QTest::addColumn<QString>("expected"); // count: first .. last
        row("/24: .254 down to .1", "10.10.0.1", "255.255.255.0", "254: 10.10.0.254 .. 10.10.0.1");
        row("/16: this computer's /24", "10.40.7.9", "255.255.0.0",
            "254: 10.40.7.254 .. 10.40.7.1");
        row("mask unknown: the /24", "10.40.7.9", "0.0.0.0", "254: 10.40.7.254 .. 10.40.7.1");
        row("/28 high in its /24", "10.0.0.250", "255.255.255.240", "14: 10.0.0.254 .. 10.0.0.241");
        row("/30: two hosts", "10.0.0.5", "255.255.255.252", "2: 10.0.0.6 .. 10.0.0.5");
    }

    void candidates()
    {
        QFETCH(QString, local);
        QFETCH(QString, mask);
        QFETCH(QString, expected);
        const auto all = NetworkSettingsPane::searchCandidates(
            Ipv4Address(local.toStdString()), Ipv4Address(mask.toStdString()).toInt());
        QCOMPARE(
            QStringLiteral("%1: %2 .. %3").arg(all.size()).arg(text(all.front()), text(all.back())),
            expected);
    }

    // The pane on `local` for a device at `device` ("": the edited one), editing `edited`.
    void search_data()
    {
        columns<QString, QString, QString, QString, QString>(
            {"local", "device", "edited", "foundAddress", "foundMask"});
        const char* const slash24 = "255.255.255.0";
        row("small network: its own host address and mask", "10.10.2.1", "", "10.10.2.5",
            "10.10.2.13", "255.255.255.240");
        row("/24: the network's mask, not the class's", "10.10.0.1", "", "10.10.0.5", "10.10.0.253",
            slash24);
        // lab0 carries 10.10.0.1 and 10.10.1.1: the device answers on either.
        row("the device's network, not the one it answered on", "10.10.1.1", "10.10.0.40",
            "10.10.0.40", "10.10.0.253", slash24);
        row("device in no local network: the one it answered on", "10.10.1.1", "10.77.0.5",
            "10.77.0.5", "10.10.1.253", slash24);
        // .253 edited, .252 "this computer" (class mask); .251 answers echo, .250 only ARP.
        row("a host that drops echo is taken", "10.10.0.252", "10.77.0.5", "10.10.0.253",
            "10.10.0.249", "255.0.0.0");
    }

    void search()
    {
        QFETCH(QString, local);
        QFETCH(QString, device);
        QFETCH(QString, edited);
        QFETCH(QString, foundAddress);
        QFETCH(QString, foundMask);
        QVERIFY(deviceSideIp({"addr", "replace", "10.10.0.251/32", "dev", "dev0"}));
        QWidget window;
        auto* pane = new NetworkSettingsPane(&window);
        pane->setDeviceAddress(Ipv4Address(device.toStdString()));
        pane->setNetHostInfo(NetworkSettings(
            Ipv4Address(edited.toStdString()), Ipv4Address("255.255.255.0"), Ipv4Address(),
            Ipv4Address(), MacAddress({2, 0xc0, 0x1a, 0, 0, 0x99}), AddressModeStatic));
        pane->setLocalIp(Ipv4Address(local.toStdString()));
        window.show();
        pane->findChild<QPushButton*>("btnSuggest")->click();
        QCOMPARE(text(pane->netHostInfo().ipAddress()), foundAddress);
        QCOMPARE(text(pane->netHostInfo().subnetMask()), foundMask);
        QVERIFY(deviceSideIp({"addr", "del", "10.10.0.251/32", "dev", "dev0"}));
    }

    // Abort ends the search quietly; a second search then runs to its end, all taken.
    void abortThenEveryCandidateTaken()
    {
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
        QCOMPARE(m_boxes,
                 QStringList("No address!|No available addresses were found on the current "
                             "subnet."));
        // 254 down to 2: this computer (.1) and the edited address (.100) are not tried.
        QCOMPARE(g_tried.size(), 252);
        QCOMPARE(g_tried.first() + ' ' + g_tried.last(), QStringLiteral("254 2"));
        QVERIFY(!g_tried.contains("100"));
        QVERIFY(m_pane->netHostInfo() == m_loaded);
    }

    // The deletion arrives inside the progress dialog's update for the first candidate.
    void paneDestroyedMidSearchEndsCleanly()
    {
        QTimer::singleShot(0, this, [this] { delete std::exchange(m_window, nullptr); });
        m_pane->onSuggestClicked();
        QVERIFY(m_pane.isNull());
        QCOMPARE(g_tried, QStringList({"254"}));
        QCOMPARE(m_boxes, QStringList());
        QVERIFY(!QApplication::activeModalWidget());
        const auto windows = QApplication::topLevelWidgets();
        QVERIFY(std::none_of(windows.begin(), windows.end(),
                             [](QWidget* w) { return qobject_cast<QProgressDialog*>(w); }));
    }

private:
    void clickSuggest() { m_pane->findChild<QPushButton*>("btnSuggest")->click(); }

    QWidget* m_window = nullptr;
    QPointer<NetworkSettingsPane> m_pane;
    const NetworkSettings m_loaded{Ipv4Address("10.20.0.100"),
                                   Ipv4Address("255.255.255.0"),
                                   Ipv4Address("10.20.0.254"),
                                   Ipv4Address("10.20.0.253"),
                                   MacAddress({2, 0xc0, 0x1a, 0, 0, 0x99}),
                                   AddressModeStatic};
    // Every message box the search opens (it runs them inside the click), as "title|text".
    QStringList m_boxes;
    std::unique_ptr<ModalBoxHandler<QMessageBox>> m_boxHandler;
};

QTEST_MAIN(TstAddressSearch)
#include "tst_addresssearch.moc"
