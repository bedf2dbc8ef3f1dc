// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
// The echo against the lab's hosts: one that answers, one that is absent, a router that
// reports the destination unreachable (no host there: only a real echo reply counts), a
// destination without a route.
#include "labguard.h"
#include "tevpinghelper.h"

#include <QElapsedTimer>
#include <QtTest>

#include <cerrno>

Q_DECLARE_METATYPE(CorlaEchoPath)

namespace {

std::string labAddress(const QString& variable)
{
    return qgetenv(qPrintable(variable)).toStdString();
}

} // namespace

class TstLabPing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        CORLA_REQUIRE_LAB();
        QVERIFY(!corlaLabEnv("CORLA_LAB_PRESENT").isEmpty());
    }

    void echo_data()
    {
        QTest::addColumn<CorlaEchoPath>("path");
        QTest::addColumn<QString>("target"); // lab variable
        QTest::addColumn<uint>("replies");   // from the lab's router, CORLA_LAB_PRESENT
        QTest::addColumn<uint>("status");
        QTest::addColumn<uint>("error");
        QTest::addColumn<int>("minMs"); // an echo nobody answers waits out its limit
        // The lab admits datagram sockets; the raw path is taken here on purpose (its automatic
        // choice, when datagram sockets are refused, is covered by the unit test).
        for (CorlaEchoPath path : {CorlaEchoPath::Datagram, CorlaEchoPath::Raw}) {
            const char* p = path == CorlaEchoPath::Datagram ? "datagram" : "raw";
            QTest::addRow("%s: present", p) << path << "CORLA_LAB_PRESENT" << 1u << 0u << 0u << 0;
            QTest::addRow("%s: absent, nothing in time", p)
                << path << "CORLA_LAB_ABSENT" << 0u << 0u << uint(ETIMEDOUT) << 150;
            // Host unreachable (3 * 256 + 1) from a router counts as a reply.
            QTest::addRow("%s: router reports unreachable", p)
                << path << "CORLA_LAB_ROUTER_UNREACH" << 1u << 769u << 0u << 0;
            // Its error, not a time, shows that it did not wait.
            QTest::addRow("%s: no route, fails at once", p)
                << path << "CORLA_LAB_NOROUTE" << 0u << 0u << uint(ENETUNREACH) << 0;
        }
    }

    void echo()
    {
        QFETCH(CorlaEchoPath, path);
        QFETCH(QString, target);
        QFETCH(uint, replies);
        QFETCH(uint, status);
        QFETCH(uint, error);
        QFETCH(int, minMs);
        QElapsedTimer clock;
        clock.start();
        const CorlaEchoOutcome outcome = corlaIcmpEchoVia(path, labAddress(target), 150);
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(outcome.path, path);
        QCOMPARE(outcome.replyCount, replies);
        QCOMPARE(outcome.errorCode, error);
        QCOMPARE(outcome.replySource, replies ? labAddress("CORLA_LAB_PRESENT") : std::string());
        QCOMPARE(outcome.status, status);
        QVERIFY(outcome.roundTripMs <= elapsed);
        QVERIFY2(elapsed >= minMs, qPrintable(QString::number(elapsed)));
    }

    // Only a real echo reply counts: a router's "host unreachable" is no answer.
    void pingHost_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("result");
        QTest::newRow("present") << "CORLA_LAB_PRESENT" << int(TevPingReplied);
        QTest::newRow("router reports unreachable")
            << "CORLA_LAB_ROUTER_UNREACH" << int(TevPingNoReply);
        QTest::newRow("absent") << "CORLA_LAB_ABSENT" << int(TevPingNoReply);
    }

    void pingHost()
    {
        QFETCH(QString, target);
        QFETCH(int, result);
        // Room for a busy machine: the absent host costs the whole limit, the others none.
        QCOMPARE(int(TevPingHelper::pingHost(TevIpAddr(labAddress(target)), 1000)), result);
    }
};

QTEST_GUILESS_MAIN(TstLabPing)
#include "tst_lab_ping.moc"
