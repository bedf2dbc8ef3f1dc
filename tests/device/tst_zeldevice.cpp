// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "datarow.h"
#include "zeldevice.h"

#include <QtTest>

#include <typeinfo>

namespace {

const auto q = [](const std::string& s) { return QString::fromStdString(s); };
const auto type = [](int code) { return static_cast<ZelDeviceType>(code); };

} // namespace

class TestZelDevice : public QObject
{
    Q_OBJECT

private slots:
    // Queued signals look the types up by these names.
    void metaTypesKnownByName()
    {
        for (const char* name : {"TevDevice", "ZelPort", "ZelNetworkStatus", "ZelPortConnStatus",
                                 "TevMacAddr", "TevNetHostInfo", "std::shared_ptr<TevDevice>",
                                 "std::shared_ptr<ZelDevice>", "int16_t"})
            QVERIFY2(QMetaType::type(name) != QMetaType::UnknownType, name);
    }

    // The web page belongs to the type, not to the record class; unknown codes get the base.
    void createDevice_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("cls"); // the Itanium name, its length first
        QTest::addColumn<bool>("web");
        row("web page", 5, "9ZelDevice", true);
        row("same class, no web page", 15, "9ZelDevice", false);
        row("host side", 8, "9HciDevice", true);
        row("battery", 13, "11SmRecDevice", false);
        row("past the table", 17, "9TevDevice", false);
        row("0x85: the low bits of a web code must not count", -123, "9TevDevice", false);
    }
    void createDevice()
    {
        QFETCH(int, code);
        QFETCH(QString, cls);
        QFETCH(bool, web);
        const auto dev = TevDevice::createDevice(type(code));
        QCOMPARE(QString(typeid(*dev).name()), cls);
        QCOMPARE(dev->hasWebserver(), web);
    }

    // The serial in decimal: no leading zeros, no grouping; lookups past either end of the
    // tables fall back instead of reading beyond them.
    void namesAtTheEdges()
    {
        const auto dev = TevDevice::createDevice(type(5));
        dev->setSerial(1234);
        QCOMPARE(q(dev->friendlyName()), "Nerio HF #1234");
        QCOMPARE(q(ZelDeviceId(type(17), 7).friendlyName()), "Unrecognized Device #7");
        QCOMPARE(q(ZelUtil::networkStatusStr(ZelNetworkStatus(4))), "NotFound");
        QCOMPARE(q(ZelUtil::networkStatusStr(ZelNetworkStatus(5))), "Invalid Status");
        QCOMPARE(q(ZelUtil::networkStatusStr(ZelNetworkStatus(-1))), "Invalid Status");
    }
};

QTEST_GUILESS_MAIN(TestZelDevice)
#include "tst_zeldevice.moc"
