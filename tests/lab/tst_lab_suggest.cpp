// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// Suggest IP on the lab's networks, run with scripts/lab --small-net: the network the device
// is on (else the one it answered on) with that network's mask, only the host addresses of a
// network smaller than a /24, and a host that answers ARP but drops echo counted as taken.
#include "tests/support/datarow.h"
#include "tests/support/labguard.h"
#include "ui/ipv4edit.h"
#include "ui/networksettingspane.h"

#include <QPushButton>
#include <QtTest>

using namespace corla;

namespace {

QStringList texts(const QList<Ipv4Address>& addresses)
{
    QStringList out;
    for (const Ipv4Address& a : addresses)
        out << QString::fromStdString(a.toString());
    return out;
}

// Runs `ip` commands on the lab's device side.
bool deviceSideIp(const QStringList& args)
{
    QProcess ip;
    ip.start("nsenter", QStringList{"--net=" + corlaLabEnv("CORLA_LAB_DEVNS"), "ip"} + args);
    return ip.waitForFinished(20000) && ip.exitStatus() == QProcess::NormalExit &&
           ip.exitCode() == 0;
}

} // namespace

class TstLabSuggest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        QCOMPARE(corlaLabEnv("CORLA_LAB_SMALL_NET"), QStringLiteral("10.10.2.0/28"));
    }

    void candidates_data()
    {
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QStringList>("firstAndLast");
        QTest::addColumn<int>("count");
        using L = QStringList;
        row("/24: .254 down to .1", "10.10.0.1", "255.255.255.0", L{"10.10.0.254", "10.10.0.1"},
            254);
        row("/16: this computer's /24", "10.40.7.9", "255.255.0.0", L{"10.40.7.254", "10.40.7.1"},
            254);
        row("mask unknown: the /24", "10.40.7.9", "0.0.0.0", L{"10.40.7.254", "10.40.7.1"}, 254);
        row("/28 high in its /24", "10.0.0.250", "255.255.255.240", L{"10.0.0.254", "10.0.0.241"},
            14);
        row("/30: two hosts", "10.0.0.5", "255.255.255.252", L{"10.0.0.6", "10.0.0.5"}, 2);
    }

    void candidates()
    {
        QFETCH(QString, local);
        QFETCH(QString, mask);
        QFETCH(QStringList, firstAndLast);
        QFETCH(int, count);
        const QStringList all = texts(NetworkSettingsPane::searchCandidates(
            Ipv4Address(local.toStdString()), Ipv4Address(mask.toStdString()).toInt()));
        QCOMPARE(all.size(), count);
        QCOMPARE((QStringList{all.first(), all.last()}), firstAndLast);
    }

    // The pane on this computer's address `local` (the one the device answered on), for a
    // device at `device` ("": not given, the edited address stands for it), editing
    // `edited`. The device side answers echo at its own addresses (.254 on lab0's networks,
    // .14 on the small one).
    void search_data()
    {
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("edited");
        QTest::addColumn<QString>("foundAddress");
        QTest::addColumn<QString>("foundMask");
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
        // .253 is edited and .252 "this computer" (not a local address: the class mask);
        // .251 answers echo, .250 only ARP.
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
        QCOMPARE(QString::fromStdString(pane->netHostInfo().ipAddress().toString()), foundAddress);
        QCOMPARE(QString::fromStdString(pane->netHostInfo().subnetMask().toString()), foundMask);
        QVERIFY(deviceSideIp({"addr", "del", "10.10.0.251/32", "dev", "dev0"}));
    }
};

QTEST_MAIN(TstLabSuggest)
#include "tst_lab_suggest.moc"
