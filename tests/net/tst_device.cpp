// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "core/net/device.h"
#include "tests/support/datarow.h"

#include <QtTest>

using namespace corla;

namespace {

const auto q = [](const std::string& s) { return QString::fromStdString(s); };
const auto type = [](int code) { return static_cast<DeviceType>(code); };

} // namespace

class TestDevice : public QObject
{
    Q_OBJECT

private slots:
    // Queued signals look the types up by these names.
    void metaTypesKnownByName()
    {
        for (const char* name : {"Device", "DevicePort", "Reachability", "PortState", "MacAddress",
                                 "NetworkSettings", "std::shared_ptr<Device>", "int16_t"})
            QVERIFY2(QMetaType::type(name) != QMetaType::UnknownType, name);
    }

    // The web page and the dump's banner belong to the type; unknown codes get the plain one.
    void typeTraits_data()
    {
        columns<int, QString, bool>({"code", "banner", "web"});
        row("web page", 5, "----------- ZelDevice ---------- \nSerial: 0", true);
        row("same family, no web page", 15, "----------- ZelDevice ---------- \nSerial: 0", false);
        row("host side", 8, "----------- HciDevice ---------- Serial: 0", true);
        row("battery", 13, "----------- SmRecDevice ---------- Serial: 0", false);
        row("past the table", 17, "----------- TevDevice ---------- \nSerial: 0", false);
        row("0x85: the low bits of a web code must not count", -123,
            "----------- TevDevice ---------- \nSerial: 0", false);
    }
    void typeTraits()
    {
        QFETCH(int, code);
        QFETCH(QString, banner);
        QFETCH(bool, web);
        const Device dev(type(code));
        QCOMPARE(q(dev.toString()).section('\n', 0, banner.count('\n')), banner);
        QCOMPARE(dev.hasWebPage(), web);
    }

    // Serials in decimal; lookups past either end of the tables fall back.
    void namesAtTheEdges()
    {
        const auto dev = std::make_shared<Device>(type(5));
        dev->setSerial(1234);
        QCOMPARE(q(dev->friendlyName()), "Nerio HF #1234");
        QCOMPARE(q(DeviceId(type(17), 7).friendlyName()), "Unrecognized Device #7");
        QCOMPARE(q(DeviceTexts::networkStatusStr(Reachability(4))), "NotFound");
        QCOMPARE(q(DeviceTexts::networkStatusStr(Reachability(5))), "Invalid Status");
        QCOMPARE(q(DeviceTexts::networkStatusStr(Reachability(-1))), "Invalid Status");
    }
};

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
