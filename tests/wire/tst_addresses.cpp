// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/wire/addresses.h"

#include <QtTest>

using namespace corla;

class TstAddresses : public QObject
{
    Q_OBJECT

private slots:
    // Every text goes through both parsers: an address text is no MAC and the reverse.
    void parseTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<quint32>("ip"); // 0: refused
        QTest::addColumn<bool>("mac");   // true: 00:1a:2b:3c:4d:5e

        QTest::newRow("address") << "192.168.1.10" << 0xC0A8010Au << false;
        QTest::newRow("limited broadcast") << "255.255.255.255" << 0xFFFFFFFFu << false;
        QTest::newRow("three octets") << "192.168.1" << 0u << false;
        QTest::newRow("octet above 255") << "300.1.1.1" << 0u << false;
        QTest::newRow("empty") << "" << 0u << false;
        QTest::newRow("trailing dot") << "1.2.3.4." << 0u << false;
        QTest::newRow("leading blank") << " 1.2.3.4" << 0u << false;
        QTest::newRow("embedded NUL then junk")
            << QString::fromUtf8("1.2.3.4\0junk", 12) << 0u << false;
        QTest::newRow("junk after address") << "1.2.3.4junk" << 0u << false;
        QTest::newRow("MAC, lower case") << "00:1a:2b:3c:4d:5e" << 0u << true;
        QTest::newRow("MAC, upper case") << "00:1A:2B:3C:4D:5E" << 0u << true;
        QTest::newRow("MAC with dashes") << "00-1a-2b-3c-4d-5e" << 0u << true;
        QTest::newRow("MAC too short") << "00:1a:2b:3c:4d:5" << 0u << false;
        QTest::newRow("MAC too long") << "00:1a:2b:3c:4d:5e:" << 0u << false;
        QTest::newRow("MAC not hex") << "00:1a:2b:3c:4d:5g" << 0u << false;
        QTest::newRow("MAC with dots") << "00.1a.2b.3c.4d.5e" << 0u << false;
    }

    void parseTexts()
    {
        QFETCH(QString, text);
        QFETCH(quint32, ip);
        QFETCH(bool, mac);
        const std::string t = text.toStdString();

        // A failed parse must overwrite an earlier value, not keep it.
        Ipv4Address reused(0x01020304u);
        reused.setAddress(t);
        QCOMPARE(reused.toInt(), ip);
        QCOMPARE(reused.toString(), ip ? t : std::string("0.0.0.0"));
        QCOMPARE(reused.toArray()[0], uint8_t(ip >> 24));
        QCOMPARE(Ipv4Address(reused.toArray()).toInt(), ip);

        const uint8_t sentinel[6] = {1, 2, 3, 4, 5, 6};
        MacAddress out(sentinel);
        QCOMPARE(MacAddress::parse(t, &out), mac);
        // The text's last pair is octet 0, the first on the wire; failure leaves *out alone.
        QCOMPARE(out.toString(), mac ? std::string("00:1a:2b:3c:4d:5e") : "06:05:04:03:02:01");
        QCOMPARE(out.octet(0), mac ? uint8_t(0x5e) : uint8_t(1));
    }

    void defaultMask()
    {
        const std::pair<int, quint32> boundaries[] = {
            {0, 0xFF000000},   {127, 0xFF000000}, {128, 0xFFFF0000}, {191, 0xFFFF0000},
            {192, 0xFFFFFF00}, {224, 0xFFFFFF00}, {255, 0xFFFFFF00}};
        for (const auto& [firstOctet, mask] : boundaries)
            QCOMPARE(Ipv4Address::defaultMask(uint8_t(firstOctet)), mask);
    }
};

QTEST_APPLESS_MAIN(TstAddresses)
#include "tst_addresses.moc"
