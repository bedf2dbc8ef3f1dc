// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The network host pane's free-address search against real echoes on the 10.20.0.0/24 link
// of the lab (host side 10.20.0.1 on lab1, device side 10.20.0.254 on dev1). The device
// side is given extra /32 addresses so that chosen candidates answer; an on-link address
// nobody holds stays silent, which the search takes as free.

#include "tests/support/labguard.h"
#include "tests/support/modalboxhandler.h"
#include "ui/networksettingspane.h"

#include <QtTest>
#include <QtWidgets>

using namespace corla;

namespace {

const QString kSubnet = QStringLiteral("10.20.0.");

// Runs `ip -batch -` on the lab's device side with one command per candidate from .2 to .253
// (the device side's own .254 always answers).
void onEveryCandidate(const char* command)
{
    QProcess ip;
    ip.setProcessChannelMode(QProcess::MergedChannels);
    ip.start("nsenter", {"--net=" + corlaLabEnv("CORLA_LAB_DEVNS"), "ip", "-batch", "-"});
    for (int octet = 2; octet <= 253; ++octet)
        ip.write(QStringLiteral("addr %1 %2%3/32 dev dev1\n")
                     .arg(command, kSubnet)
                     .arg(octet)
                     .toLatin1());
    ip.closeWriteChannel();
    QVERIFY(ip.waitForFinished(20000));
    QVERIFY2(ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0, ip.readAll());
}

// The candidates the search announces ("Searching for ip", by their last octet); other
// debug lines, hundreds of the echo's own in a full search, are dropped.
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
        delete m_window;
        m_window = nullptr;
    }

    void abortThenEveryCandidateTaken();
    void paneDestroyedMidSearchEndsCleanly();

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

// Abort ends the search quietly on the candidate on screen; nothing is left over, so a
// second search runs to its end and warns that every candidate is taken.
void TstAddressSearch::abortThenEveryCandidateTaken()
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
    QCOMPARE(m_boxes, QStringList("No address!|No available addresses were found on the current "
                                  "subnet."));
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

QTEST_MAIN(TstAddressSearch)
#include "tst_addresssearch.moc"
