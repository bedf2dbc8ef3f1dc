// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "zeldevice.h"

#include <QtTest>

#include <typeinfo>

namespace {

const auto q = [](const std::string& s) { return QString::fromStdString(s); };
const auto type = [](int code) { return static_cast<ZelDeviceType>(code); };
// The dynamic class of a record, "ZelDevice"; the Itanium ABI prefixes its length.
const auto className = [](const TevDevice& dev) {
    return QString(typeid(dev).name()).remove(QRegularExpression("^[0-9]+"));
};

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

    // Every record class, and codes past the contiguous range and beyond the table.
    void createDevice_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("cls");
        QTest::addColumn<bool>("web");

        const auto row = [](int code, const char* cls, bool web) {
            QTest::addRow("code %d", code) << code << cls << web;
        };
        row(-1, "TevDevice", false);
        row(0, "TevDevice", false);
        row(5, "ZelDevice", true);
        row(7, "ZelDevice", true);
        row(8, "HciDevice", true);
        row(13, "SmRecDevice", false);
        row(15, "ZelDevice", false);
        row(16, "HciDevice", true);
        row(66, "TevDevice", false);
        row(17, "TevDevice", false);
        // 0x85: the low bits of a web-page code must not count.
        row(-123, "TevDevice", false);
    }

    void createDevice()
    {
        QFETCH(int, code);
        QFETCH(QString, cls);
        QFETCH(bool, web);

        const auto dev = TevDevice::createDevice(type(code));
        QCOMPARE(className(*dev), cls);
        QCOMPARE(dev->hasWebserver(), web);
    }

    // The type's name, then the serial in decimal: no leading zeros, no grouping.
    void friendlyName()
    {
        const auto dev = TevDevice::createDevice(type(5));
        dev->setSerial(1234);
        QCOMPARE(q(dev->friendlyName()), "Nerio HF #1234");
        QCOMPARE(q(ZelDeviceId(type(17), 7).friendlyName()), "Unrecognized Device #7");
    }

    // The table itself is plain data; what can go wrong is the lookup at and beyond its edges.
    void statusText_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        QTest::newRow("last code") << 4 << "NotFound";
        QTest::newRow("past the end") << 5 << "Invalid Status";
        QTest::newRow("negative") << -1 << "Invalid Status";
    }

    void statusText()
    {
        QFETCH(int, status);
        QFETCH(QString, expected);
        QCOMPARE(q(ZelUtil::networkStatusStr(ZelNetworkStatus(status))), expected);
    }
};

QTEST_GUILESS_MAIN(TestZelDevice)
#include "tst_zeldevice.moc"
