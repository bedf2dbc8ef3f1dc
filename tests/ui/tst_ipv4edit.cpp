// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "tests/support/datarow.h"
#include "ui/ipv4edit.h"

#include <QtTest>
#include <QtWidgets>

using namespace corla;

// An active window: the edited address, a second editor next in the tab chain, a focused edit.
class TstIpv4Edit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        auto* layout = new QVBoxLayout(&m_window);
        layout->addWidget(m_edit = new Ipv4Edit(&m_window));
        layout->addWidget(m_second = new Ipv4Edit(&m_window));
        layout->addWidget(m_other = new QLineEdit(&m_window));
        m_window.show();
        QApplication::setActiveWindow(&m_window);
        QVERIFY(QTest::qWaitForWindowActive(&m_window));
    }
    void init()
    {
        m_other->setFocus();
        QCOMPARE(QApplication::focusWidget(), m_other);
        m_edit->clear();
    }

    // Octet texts set past the validator are neither wrapped nor guessed; empty or foreign is 0.
    void readers_data()
    {
        columns<QString, QString, bool>({"texts", "address", "validIp"});
        row("leading zeros", "10.007.0.1", "10.7.0.1", true);
        row("letters", "10.abc.0.1", "10.0.0.1", false);
        row("empty octet between ones", "255..255.0", "255.0.255.0", true);
    }
    void readers()
    {
        QFETCH(QString, texts);
        QFETCH(QString, address);
        QFETCH(bool, validIp);
        for (int i = 0; i < 4; ++i)
            field(i)->setText(texts.section('.', i, i));
        QCOMPARE(QString::fromStdString(m_edit->address().toString()), address);
        QCOMPARE(m_edit->isValidIp(), validIp);
        m_edit->setAddress(m_edit->address());
        QStringList shown;
        for (int i = 0; i < 4; ++i)
            shown << field(i)->text();
        QCOMPARE(shown.join('.'), address);
    }

    void typing_data()
    {
        columns<QString, QString>({"keys", "text"});
        row("highest octet", "255", "255");
        row("256 refuses the third digit", "256", "25");
        row("signs, letters and separators", "-+a1,2", "12");
    }
    void typing()
    {
        QFETCH(QString, keys);
        QFETCH(QString, text);
        focusField(1, 0);
        QTest::keyClicks(field(1), keys);
        QCOMPARE(field(1)->text(), text);
        QCOMPARE(QApplication::focusWidget(), field(1)); // not even after a third digit
    }

    void keys_data()
    {
        // Events: octetEdited octets, "done" for editingFinished; focus 4: the next editor.
        columns<int, QString, int, Qt::Key, QString, int>(
            {"octet", "text", "cursor", "key", "events", "focus"});
        row("Space mid-text: next", 1, "123", 1, Qt::Key_Space, "1", 2);
        row(". at end: next", 0, "12", 2, Qt::Key_Period, "0", 1);
        row("Right at end: next", 2, "7", 1, Qt::Key_Right, "2", 3);
        row("Left at start: back", 2, "5", 0, Qt::Key_Left, "2", 1);
        row("Backspace at start", 3, "9", 0, Qt::Key_Backspace, "3", 2);
        row("Backspace, empty: back", 1, "", 0, Qt::Key_Backspace, "", 0);
        row("Tab between octets", 1, "2", 1, Qt::Key_Tab, "1", 2);
        row(". mid-text refused", 1, "12", 1, Qt::Key_Period, "", 1);
        row("Return: octet only", 2, "3", 1, Qt::Key_Return, "2", 2);
        row("Left at start of first", 0, "1", 0, Qt::Key_Left, "done", 0);
        row("Right at end of last", 3, "7", 1, Qt::Key_Right, "done", 3);
        row("Tab out of the last", 3, "4", 1, Qt::Key_Tab, "3,done", 4);
        row("Tab out of empty last: silent", 3, "", 0, Qt::Key_Tab, "", 4);
    }
    void keys()
    {
        QFETCH(int, octet);
        QFETCH(QString, text);
        QFETCH(int, cursor);
        QFETCH(Qt::Key, key);
        QFETCH(QString, events);
        QFETCH(int, focus);
        m_edit->setAddress(Ipv4Address("11.22.33.44"));
        field(octet)->setText(text);
        focusField(octet, cursor);
        QStringList seen;
        connect(m_edit, &Ipv4Edit::octetEdited, this,
                [&](OctetPosition o) { seen << QString::number(o); });
        connect(m_edit, &Ipv4Edit::editingFinished, this, [&] { seen << "done"; });
        QTest::keyClick(field(octet), key);
        disconnect(m_edit, nullptr, this, nullptr);

        OctetEdit* focused = focus < 4 ? field(focus) : m_second->octetEdit(FirstOctet);
        QCOMPARE(QApplication::focusWidget(), focused);
        QCOMPARE(field(octet)->text(), text);
        QCOMPARE(seen.join(','), events);
        if (focus != octet) // arriving by keyboard selects the whole octet
            QCOMPARE(focused->selectedText(), focused->text());
    }

    // The first click into an octet selects it, however the focus came; a later one places it.
    void firstClickSelectsLaterClickPlaces()
    {
        m_edit->setAddress(Ipv4Address("1.2.123.4"));
        OctetEdit* f = field(2);
        QTest::mouseClick(f, Qt::LeftButton, {}, f->rect().center());
        QCOMPARE(QApplication::focusWidget(), f);
        QCOMPARE(f->selectedText(), QStringLiteral("123"));
        QTest::mouseClick(f, Qt::LeftButton, {}, f->rect().center());
        QVERIFY(!f->hasSelectedText());

        focusField(1, 1);
        QTest::keyClick(field(1), Qt::Key_Space);
        QCOMPARE(f->selectedText(), QStringLiteral("123"));
        QTest::mouseClick(f, Qt::LeftButton, {}, f->rect().center());
        QVERIFY(!f->hasSelectedText());
    }

private:
    OctetEdit* field(int octet) const { return m_edit->octetEdit(OctetPosition(octet)); }
    void focusField(int octet, int cursor)
    {
        field(octet)->setFocus(Qt::OtherFocusReason);
        QCOMPARE(QApplication::focusWidget(), field(octet));
        field(octet)->setCursorPosition(cursor);
    }

    QWidget m_window;
    Ipv4Edit* m_edit = nullptr;
    Ipv4Edit* m_second = nullptr;
    QLineEdit* m_other = nullptr;
};

QTEST_MAIN(TstIpv4Edit)
#include "tst_ipv4edit.moc"
