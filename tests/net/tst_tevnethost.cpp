#include "tevnethost.h"

#include <QtTest>

#include <string>

Q_DECLARE_METATYPE(std::string)

class TstTevNetHost : public QObject
{
    Q_OBJECT

private slots:
    void parseIp_data();
    void parseIp();
    void octetsAndValueAgree();
    void defaultMask_data();
    void defaultMask();
    void macTextForm();
    void macParse_data();
    void macParse();
    void hostInfoEquality_data();
    void hostInfoEquality();
    void hostInfoDefaults();
};

void TstTevNetHost::parseIp_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<quint32>("value");

    QTest::newRow("ordinary") << std::string("192.168.1.10") << quint32(0xC0A8010A);
    QTest::newRow("all zero") << std::string("0.0.0.0") << quint32(0);
    QTest::newRow("limited broadcast") << std::string("255.255.255.255") << quint32(0xFFFFFFFF);
    QTest::newRow("single digits") << std::string("10.0.0.5") << quint32(0x0A000005);
    QTest::newRow("three octets") << std::string("192.168.1") << quint32(0);
    QTest::newRow("five octets") << std::string("1.2.3.4.5") << quint32(0);
    QTest::newRow("octet above 255") << std::string("300.1.1.1") << quint32(0);
    QTest::newRow("empty") << std::string() << quint32(0);
    QTest::newRow("trailing dot") << std::string("1.2.3.4.") << quint32(0);
    QTest::newRow("leading blank") << std::string(" 1.2.3.4") << quint32(0);
    QTest::newRow("trailing blank") << std::string("1.2.3.4 ") << quint32(0);
    QTest::newRow("letters") << std::string("a.b.c.d") << quint32(0);
    QTest::newRow("negative octet") << std::string("1.-2.3.4") << quint32(0);
    QTest::newRow("host name") << std::string("localhost") << quint32(0);
    QTest::newRow("embedded NUL then junk") << std::string("1.2.3.4\0junk", 12) << quint32(0);
    QTest::newRow("junk after address") << std::string("1.2.3.4junk") << quint32(0);
}

void TstTevNetHost::parseIp()
{
    QFETCH(std::string, text);
    QFETCH(quint32, value);

    const TevIpAddr fromCtor(text);
    QCOMPARE(fromCtor.toInt(), value);
    QCOMPARE(TevIpAddr::fromString(text).toInt(), value);

    // A failed parse must overwrite an earlier value, not keep it.
    TevIpAddr reused(0x01020304u);
    reused.setAddress(text);
    QCOMPARE(reused.toInt(), value);

    if (value != 0)
        QCOMPARE(fromCtor.toString(), text);
    else
        QCOMPARE(fromCtor.toString(), std::string("0.0.0.0"));
}

void TstTevNetHost::octetsAndValueAgree()
{
    const TevIpAddr fromText(std::string("192.168.1.10"));
    QCOMPARE(fromText.toArray(), (std::array<uint8_t, 4>{192, 168, 1, 10}));

    const TevIpAddr fromOctets(std::array<uint8_t, 4>{10, 0, 0, 1});
    QCOMPARE(fromOctets.toInt(), quint32(0x0A000001));
    QVERIFY(fromOctets == TevIpAddr(0x0A000001u));
    QVERIFY(fromOctets != TevIpAddr(0x0100000Au));
    QCOMPARE(TevIpAddr(fromOctets.toArray()).toInt(), fromOctets.toInt());
}

void TstTevNetHost::defaultMask_data()
{
    QTest::addColumn<int>("firstOctet");
    QTest::addColumn<quint32>("mask");

    QTest::newRow("0") << 0 << quint32(0xFF000000);
    QTest::newRow("10") << 10 << quint32(0xFF000000);
    QTest::newRow("127 last class A") << 127 << quint32(0xFF000000);
    QTest::newRow("128 first class B") << 128 << quint32(0xFFFF0000);
    QTest::newRow("191 last class B") << 191 << quint32(0xFFFF0000);
    QTest::newRow("192 first class C") << 192 << quint32(0xFFFFFF00);
    QTest::newRow("224 multicast") << 224 << quint32(0xFFFFFF00);
    QTest::newRow("255") << 255 << quint32(0xFFFFFF00);
}

void TstTevNetHost::defaultMask()
{
    QFETCH(int, firstOctet);
    QFETCH(quint32, mask);
    QCOMPARE(TevIpAddr::defaultMask(uint8_t(firstOctet)), mask);
}

void TstTevNetHost::macTextForm()
{
    const uint8_t wire[6] = {0x5e, 0x4d, 0x3c, 0x2b, 0x1a, 0x00};
    const TevMacAddr mac(wire);
    QCOMPARE(mac.toString(), std::string("00:1a:2b:3c:4d:5e"));
    QCOMPARE(mac.octet(0), uint8_t(0x5e));
    QCOMPARE(mac.octet(5), uint8_t(0x00));
    QVERIFY(!mac.isNull());
    QVERIFY(TevMacAddr().isNull());
    QCOMPARE(TevMacAddr().toString(), std::string("00:00:00:00:00:00"));

    uint8_t other[6] = {0x5f, 0x4d, 0x3c, 0x2b, 0x1a, 0x00};
    QVERIFY(TevMacAddr(other) != mac);
    other[0] = 0x5e;
    QVERIFY(TevMacAddr(other) == mac);
}

void TstTevNetHost::macParse_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<std::string>("canonical");

    const std::string mac = "00:1a:2b:3c:4d:5e";
    QTest::newRow("lower case") << mac << true << mac;
    QTest::newRow("upper case") << std::string("00:1A:2B:3C:4D:5E") << true << mac;
    QTest::newRow("dashes") << std::string("00-1a-2b-3c-4d-5e") << true << mac;
    QTest::newRow("too short") << std::string("00:1a:2b:3c:4d:5") << false << std::string();
    QTest::newRow("too long") << std::string("00:1a:2b:3c:4d:5e:") << false << std::string();
    QTest::newRow("not hex") << std::string("00:1a:2b:3c:4d:5g") << false << std::string();
    QTest::newRow("wrong separator") << std::string("00.1a.2b.3c.4d.5e") << false << std::string();
    QTest::newRow("empty") << std::string() << false << std::string();
}

void TstTevNetHost::macParse()
{
    QFETCH(std::string, text);
    QFETCH(bool, ok);
    QFETCH(std::string, canonical);

    const uint8_t sentinel[6] = {1, 2, 3, 4, 5, 6};
    TevMacAddr out(sentinel);
    QCOMPARE(TevMacAddr::parse(text, &out), ok);
    if (ok) {
        QCOMPARE(out.toString(), canonical);
        QCOMPARE(out.octet(0), uint8_t(0x5e));
    } else {
        QVERIFY(out == TevMacAddr(sentinel));
    }
}

void TstTevNetHost::hostInfoEquality_data()
{
    QTest::addColumn<int>("field");

    // Each row changes one field of an otherwise equal pair.
    QTest::newRow("ip address") << 0;
    QTest::newRow("subnet mask") << 1;
    QTest::newRow("gateway") << 2;
    QTest::newRow("dns") << 3;
    QTest::newRow("mac octet 0") << 4;
    QTest::newRow("mac octet 5") << 5;
    QTest::newRow("address mode") << 6;
}

void TstTevNetHost::hostInfoEquality()
{
    QFETCH(int, field);

    const uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
    const TevNetHostInfo base(0xC0A8010Au, 0xFFFFFF00u, 0xC0A80101u, 0x08080808u, mac,
                              TevAddressModeManual);
    TevNetHostInfo changed = base;
    QVERIFY(changed == base);

    uint8_t otherMac[6] = {1, 2, 3, 4, 5, 6};
    switch (field) {
    case 0:
        changed.setIpAddress(TevIpAddr(0xC0A8010Bu));
        break;
    case 1:
        changed.setSubnet(TevIpAddr(0xFFFF0000u));
        break;
    case 2:
        changed.setGateway(TevIpAddr(0u));
        break;
    case 3:
        changed.setDns(TevIpAddr(0u));
        break;
    case 4:
        otherMac[0] = 0xFF;
        changed.setMacAddress(otherMac);
        break;
    case 5:
        otherMac[5] = 0xFF;
        changed.setMacAddress(otherMac);
        break;
    case 6:
        changed.setAddressMode(TevAddressModeAuto);
        break;
    }
    QVERIFY(changed != base);
    QVERIFY(!(changed == base));
}

void TstTevNetHost::hostInfoDefaults()
{
    const TevNetHostInfo blank;
    QVERIFY(blank == TevNetHostInfo(0u));
    QVERIFY(blank.macAddress().isNull());
    QCOMPARE(blank.addressMode(), TevAddressModeNotSet);
    QCOMPARE(blank.dns().toString(), std::string("0.0.0.0"));

    // The decoder's form widens the one-byte mode and keeps the MAC octet order.
    const uint8_t mac[6] = {0x5e, 0x4d, 0x3c, 0x2b, 0x1a, 0x00};
    const TevNetHostInfo decoded(1u, 2u, 3u, 4u, mac, 1);
    QCOMPARE(decoded.addressMode(), TevAddressModeAuto);
    QCOMPARE(decoded.macAddress().toString(), std::string("00:1a:2b:3c:4d:5e"));
    QCOMPARE(decoded.gateway().toInt(), quint32(3));
}

QTEST_APPLESS_MAIN(TstTevNetHost)
#include "tst_tevnethost.moc"
