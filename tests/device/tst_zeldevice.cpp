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

    // Every record class, a code past the contiguous range, and codes beyond the table.
    void createDevice_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("cls");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("web");

        const auto row = [](int code, const char* name, const char* cls, bool web) {
            QTest::addRow("code %d", code) << code << cls << name << web;
        };
        row(-1, "Unsupported device", "TevDevice", false);
        row(0, "No device", "TevDevice", false);
        row(5, "Nerio HF", "ZelDevice", true);
        row(7, "Nerio AF", "ZelDevice", true);
        row(8, "Host Controller", "HciDevice", true);
        row(13, "Battery Pack", "SmRecDevice", false);
        row(15, "Dorvi", "ZelDevice", false);
        row(16, "KWT", "HciDevice", true);
        row(66, "ZQ", "TevDevice", false);
        row(17, "Unrecognized Device", "TevDevice", false);
        // 0x85: the low bits of a web-page code must not count.
        row(-123, "Unrecognized Device", "TevDevice", false);
    }

    void createDevice()
    {
        QFETCH(int, code);
        QFETCH(QString, cls);
        QFETCH(QString, name);
        QFETCH(bool, web);

        const auto dev = TevDevice::createDevice(type(code));
        QCOMPARE(className(*dev), cls);
        QCOMPARE(dev->hasWebserver(), web);
        // Decimal serial, no leading zeros, no grouping.
        dev->setSerial(1234);
        QCOMPARE(q(dev->friendlyName()), name + " #1234");
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
