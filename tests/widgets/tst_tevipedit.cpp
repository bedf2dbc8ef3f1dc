#include "tevipedit.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

// Keyboard walks need real focus: the window is shown and made active once,
// and every test starts with the focus on a line edit outside the address.
class TstTevIpEdit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void setAddressShowsOctets_data();
    void setAddressShowsOctets();
    void addressReadsEmptyOctetsAsZero();
    void octetValueOfForeignText_data();
    void octetValueOfForeignText();
    void typing_data();
    void typing();
    void navigationKeys_data();
    void navigationKeys();
    void tabBetweenOctetsEditsOneOctet();
    void tabOutFinishesAddress();
    void tabOutOfEmptyOctetIsSilent();
    void returnEditsOctetOnly();
    void focusToOtherAddressFinishesAddress();
    void jumpToOctetSelects();
    void firstClickSelectsLaterClickPlaces();
    void clickAfterKeyboardJumpPlacesCursor();
    void subnetMask_data();
    void subnetMask();

private:
    TevIpOctetEdit* field(int octet) const { return m_edit->octetEdit(TevIpOctet(octet)); }
    void focusField(int octet, int cursor);
    static QString octetList(const QSignalSpy& spy);

    QWidget m_window;
    TevIpEdit* m_edit = nullptr;
    QLineEdit* m_other = nullptr;
    TevIpEdit* m_second = nullptr;
};

void TstTevIpEdit::initTestCase()
{
    auto* layout = new QVBoxLayout(&m_window);
    m_edit = new TevIpEdit(&m_window);
    m_other = new QLineEdit(&m_window);
    m_second = new TevIpEdit(&m_window);
    layout->addWidget(m_edit);
    layout->addWidget(m_other);
    layout->addWidget(m_second);
    m_window.show();
    m_window.activateWindow();
    QApplication::setActiveWindow(&m_window);
    QVERIFY(QTest::qWaitForWindowActive(&m_window));
}

void TstTevIpEdit::init()
{
    m_other->setFocus();
    QCOMPARE(QApplication::focusWidget(), m_other);
    m_edit->clear();
    m_second->clear();
}

void TstTevIpEdit::focusField(int octet, int cursor)
{
    field(octet)->setFocus(Qt::OtherFocusReason);
    QCOMPARE(QApplication::focusWidget(), field(octet));
    field(octet)->setCursorPosition(cursor);
}

QString TstTevIpEdit::octetList(const QSignalSpy& spy)
{
    QStringList octets;
    for (const QList<QVariant>& args : spy)
        octets << QString::number(int(args.at(0).value<TevIpOctet>()));
    return octets.join(QLatin1Char(','));
}

void TstTevIpEdit::setAddressShowsOctets_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("private address") << "10.0.0.1" << QStringList{"10", "0", "0", "1"};
    QTest::newRow("all ones") << "255.255.255.255" << QStringList{"255", "255", "255", "255"};
    QTest::newRow("no address") << "0.0.0.0" << QStringList{"0", "0", "0", "0"};
    QTest::newRow("mixed widths") << "192.168.1.20" << QStringList{"192", "168", "1", "20"};
}

void TstTevIpEdit::setAddressShowsOctets()
{
    QFETCH(QString, address);
    QFETCH(QStringList, texts);
    const TevIpAddr addr(address.toStdString());
    m_edit->setAddress(addr);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(field(i)->text(), texts.at(i));
    QCOMPARE(m_edit->address(), addr);
    QVERIFY(m_edit->isValidIp());
}

void TstTevIpEdit::addressReadsEmptyOctetsAsZero()
{
    QCOMPARE(m_edit->address(), TevIpAddr(0u));
    m_edit->setAddress(TevIpAddr("172.16.33.4"));
    field(2)->clear();
    QCOMPARE(m_edit->address(), TevIpAddr("172.16.0.4"));
    QCOMPARE(m_edit->octetValue(TevIpOctetThird), uint8_t(0));
    QCOMPARE(m_edit->octetValue(TevIpOctetFourth), uint8_t(4));
    QVERIFY(m_edit->isValidIp());
}

void TstTevIpEdit::octetValueOfForeignText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("validIp");
    QTest::newRow("empty") << "" << 0 << true;
    QTest::newRow("leading zeros") << "007" << 7 << true;
    QTest::newRow("letters") << "abc" << 0 << false;
    QTest::newRow("above an octet") << "300" << 0 << false;
    QTest::newRow("signed") << "-1" << 0 << false;
}

// setText bypasses the validator; the readers must still not wrap or guess.
void TstTevIpEdit::octetValueOfForeignText()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QFETCH(bool, validIp);
    m_edit->setAddress(TevIpAddr("1.2.3.4"));
    field(1)->setText(text);
    QCOMPARE(int(m_edit->octetValue(TevIpOctetSecond)), value);
    QCOMPARE(m_edit->address(), TevIpAddr(std::array<uint8_t, 4>{1, uint8_t(value), 3, 4}));
    QCOMPARE(m_edit->isValidIp(), validIp);
}

void TstTevIpEdit::typing_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("text");
    QTest::newRow("two digits") << "42"
                                << "42";
    QTest::newRow("highest octet") << "255"
                                   << "255";
    QTest::newRow("256 refuses the third digit") << "256"
                                                 << "25";
    QTest::newRow("999 refuses the third digit") << "999"
                                                 << "99";
    QTest::newRow("fourth digit beyond max length") << "1234"
                                                    << "123";
    QTest::newRow("minus sign refused") << "-1"
                                        << "1";
    QTest::newRow("plus sign refused") << "+5"
                                       << "5";
    QTest::newRow("letters refused") << "a1b"
                                     << "1";
    QTest::newRow("comma refused") << "1,2"
                                   << "12";
}

void TstTevIpEdit::typing()
{
    QFETCH(QString, keys);
    QFETCH(QString, text);
    focusField(1, 0);
    QTest::keyClicks(field(1), keys);
    QCOMPARE(field(1)->text(), text);
    // Typing never leaves the octet on its own, not even after a third digit.
    QCOMPARE(QApplication::focusWidget(), field(1));
}

void TstTevIpEdit::navigationKeys_data()
{
    QTest::addColumn<int>("octet");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("focusAfter");
    QTest::addColumn<QString>("textAfter");
    QTest::addColumn<QString>("octetsEdited");
    QTest::addColumn<int>("finished");

    // Moving on or back.
    QTest::newRow("space mid-text moves next")
        << 1 << "123" << 1 << int(Qt::Key_Space) << 2 << "123"
        << "1" << 0;
    QTest::newRow("space in empty octet moves next")
        << 0 << "" << 0 << int(Qt::Key_Space) << 1 << ""
        << "" << 0;
    QTest::newRow("period at end moves next") << 0 << "12" << 2 << int(Qt::Key_Period) << 1 << "12"
                                              << "0" << 0;
    QTest::newRow("right at end moves next") << 2 << "7" << 1 << int(Qt::Key_Right) << 3 << "7"
                                             << "2" << 0;
    QTest::newRow("left at start moves back") << 2 << "5" << 0 << int(Qt::Key_Left) << 1 << "5"
                                              << "2" << 0;
    QTest::newRow("backspace at start moves back")
        << 3 << "99" << 0 << int(Qt::Key_Backspace) << 2 << "99"
        << "3" << 0;
    QTest::newRow("backspace at start of empty octet moves back")
        << 1 << "" << 0 << int(Qt::Key_Backspace) << 0 << ""
        << "" << 0;

    // Ordinary editing inside an octet.
    QTest::newRow("period mid-text is refused")
        << 1 << "12" << 1 << int(Qt::Key_Period) << 1 << "12"
        << "" << 0;
    QTest::newRow("right mid-text moves the cursor")
        << 1 << "12" << 1 << int(Qt::Key_Right) << 1 << "12"
        << "" << 0;
    QTest::newRow("left at end moves the cursor")
        << 1 << "12" << 2 << int(Qt::Key_Left) << 1 << "12"
        << "" << 0;
    QTest::newRow("backspace at end deletes")
        << 1 << "12" << 2 << int(Qt::Key_Backspace) << 1 << "1"
        << "" << 0;
    QTest::newRow("period at end of empty octet does nothing")
        << 1 << "" << 0 << int(Qt::Key_Period) << 1 << ""
        << "" << 0;
    QTest::newRow("right at end of empty octet does nothing")
        << 1 << "" << 0 << int(Qt::Key_Right) << 1 << ""
        << "" << 0;

    // Past either end: the address is finished and the focus stays.
    QTest::newRow("left at start of first octet finishes")
        << 0 << "10" << 0 << int(Qt::Key_Left) << 0 << "10"
        << "" << 1;
    QTest::newRow("backspace at start of first octet finishes")
        << 0 << "10" << 0 << int(Qt::Key_Backspace) << 0 << "10"
        << "" << 1;
    QTest::newRow("right at end of last octet finishes")
        << 3 << "7" << 1 << int(Qt::Key_Right) << 3 << "7"
        << "" << 1;
    QTest::newRow("period at end of last octet finishes")
        << 3 << "254" << 3 << int(Qt::Key_Period) << 3 << "254"
        << "" << 1;
    QTest::newRow("space in empty last octet finishes")
        << 3 << "" << 0 << int(Qt::Key_Space) << 3 << ""
        << "" << 1;
    QTest::newRow("period at end of empty last octet does nothing")
        << 3 << "" << 0 << int(Qt::Key_Period) << 3 << ""
        << "" << 0;
}

void TstTevIpEdit::navigationKeys()
{
    QFETCH(int, octet);
    QFETCH(QString, text);
    QFETCH(int, cursor);
    QFETCH(int, key);
    QFETCH(int, focusAfter);
    QFETCH(QString, textAfter);
    QFETCH(QString, octetsEdited);
    QFETCH(int, finished);

    m_edit->setAddress(TevIpAddr("11.22.33.44"));
    field(octet)->setText(text);
    focusField(octet, cursor);
    QSignalSpy edited(m_edit, &TevIpEdit::octetEdited);
    QSignalSpy done(m_edit, &TevIpEdit::editingFinished);

    QTest::keyClick(field(octet), Qt::Key(key));

    QCOMPARE(QApplication::focusWidget(), field(focusAfter));
    QCOMPARE(field(octet)->text(), textAfter);
    QCOMPARE(octetList(edited), octetsEdited);
    QCOMPARE(done.count(), finished);
    if (focusAfter != octet) {
        // Arriving by keyboard selects the whole octet, ready to be typed over.
        QCOMPARE(field(focusAfter)->selectedText(), field(focusAfter)->text());
    }
}

void TstTevIpEdit::tabBetweenOctetsEditsOneOctet()
{
    m_edit->setAddress(TevIpAddr("1.2.3.4"));
    focusField(1, 1);
    QSignalSpy edited(m_edit, &TevIpEdit::octetEdited);
    QSignalSpy done(m_edit, &TevIpEdit::editingFinished);
    QTest::keyClick(field(1), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), field(2));
    QCOMPARE(octetList(edited), QString("1"));
    QCOMPARE(done.count(), 0);
}

void TstTevIpEdit::tabOutFinishesAddress()
{
    m_edit->setAddress(TevIpAddr("1.2.3.4"));
    focusField(3, 1);
    QStringList events;
    connect(m_edit, &TevIpEdit::octetEdited, this,
            [&events](TevIpOctet o) { events << QString("octet %1").arg(int(o)); });
    connect(m_edit, &TevIpEdit::editingFinished, this, [&events] { events << "finished"; });
    QTest::keyClick(field(3), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), m_other);
    QCOMPARE(events, QStringList({"octet 3", "finished"}));
    disconnect(m_edit, nullptr, this, nullptr);
}

void TstTevIpEdit::tabOutOfEmptyOctetIsSilent()
{
    m_edit->setAddress(TevIpAddr("1.2.3.4"));
    field(3)->clear();
    focusField(3, 0);
    QSignalSpy edited(m_edit, &TevIpEdit::octetEdited);
    QSignalSpy done(m_edit, &TevIpEdit::editingFinished);
    QTest::keyClick(field(3), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), m_other);
    QCOMPARE(edited.count(), 0);
    QCOMPARE(done.count(), 0);
}

void TstTevIpEdit::returnEditsOctetOnly()
{
    m_edit->setAddress(TevIpAddr("1.2.3.4"));
    focusField(2, 1);
    QSignalSpy edited(m_edit, &TevIpEdit::octetEdited);
    QSignalSpy done(m_edit, &TevIpEdit::editingFinished);
    QTest::keyClick(field(2), Qt::Key_Return);
    QCOMPARE(octetList(edited), QString("2"));
    QCOMPARE(done.count(), 0);
    QCOMPARE(QApplication::focusWidget(), field(2));
}

// Another address editor's octet is not "inside" this one.
void TstTevIpEdit::focusToOtherAddressFinishesAddress()
{
    m_edit->setAddress(TevIpAddr("1.2.3.4"));
    focusField(0, 0);
    QSignalSpy edited(m_edit, &TevIpEdit::octetEdited);
    QSignalSpy done(m_edit, &TevIpEdit::editingFinished);
    m_second->jumpToOctet(TevIpOctetFirst);
    QCOMPARE(QApplication::focusWidget(), m_second->octetEdit(TevIpOctetFirst));
    QCOMPARE(octetList(edited), QString("0"));
    QCOMPARE(done.count(), 1);
}

void TstTevIpEdit::jumpToOctetSelects()
{
    m_edit->setAddress(TevIpAddr("192.168.0.77"));
    m_edit->jumpToOctet(TevIpOctetFourth);
    QCOMPARE(QApplication::focusWidget(), field(3));
    QCOMPARE(field(3)->selectedText(), QString("77"));
    QTest::keyClicks(field(3), "5");
    QCOMPARE(m_edit->address(), TevIpAddr("192.168.0.5"));
}

void TstTevIpEdit::firstClickSelectsLaterClickPlaces()
{
    m_edit->setAddress(TevIpAddr("1.2.123.4"));
    TevIpOctetEdit* f = field(2);
    QTest::mouseClick(f, Qt::LeftButton, {}, f->rect().center());
    QCOMPARE(QApplication::focusWidget(), f);
    QCOMPARE(f->selectedText(), QString("123"));
    QTest::mouseClick(f, Qt::LeftButton, {}, f->rect().center());
    QVERIFY(!f->hasSelectedText());
}

void TstTevIpEdit::clickAfterKeyboardJumpPlacesCursor()
{
    m_edit->setAddress(TevIpAddr("1.2.123.4"));
    focusField(1, 1);
    QTest::keyClick(field(1), Qt::Key_Space);
    TevIpOctetEdit* f = field(2);
    QCOMPARE(QApplication::focusWidget(), f);
    QCOMPARE(f->selectedText(), QString("123"));
    QTest::mouseClick(f, Qt::LeftButton, {}, f->rect().center());
    QVERIFY(!f->hasSelectedText());
}

void TstTevIpEdit::subnetMask_data()
{
    QTest::addColumn<QStringList>("octets");
    QTest::addColumn<bool>("valid");
    QTest::newRow("class C /24") << QStringList{"255", "255", "255", "0"} << true;
    QTest::newRow("class B /16") << QStringList{"255", "255", "0", "0"} << true;
    QTest::newRow("/25") << QStringList{"255", "255", "255", "128"} << true;
    QTest::newRow("/31") << QStringList{"255", "255", "255", "254"} << true;
    QTest::newRow("/1") << QStringList{"128", "0", "0", "0"} << true;
    QTest::newRow("all zero") << QStringList{"0", "0", "0", "0"} << true;
    QTest::newRow("all empty") << QStringList{"", "", "", ""} << true;
    QTest::newRow("empty fields read as zero bits") << QStringList{"255", "", "", ""} << true;
    QTest::newRow("all ones") << QStringList{"255", "255", "255", "255"} << false;
    QTest::newRow("alternating octets") << QStringList{"255", "0", "255", "0"} << false;
    QTest::newRow("one bits after a zero octet") << QStringList{"255", "255", "0", "255"} << false;
    QTest::newRow("hole in the first octet") << QStringList{"254", "255", "255", "0"} << false;
    QTest::newRow("only the lowest bit") << QStringList{"0", "0", "0", "1"} << false;
    QTest::newRow("empty field between ones") << QStringList{"255", "", "255", "0"} << false;
}

void TstTevIpEdit::subnetMask()
{
    QFETCH(QStringList, octets);
    QFETCH(bool, valid);
    for (int i = 0; i < 4; ++i)
        field(i)->setText(octets.at(i));
    QCOMPARE(m_edit->isValidSubnetMask(), valid);
}

QTEST_MAIN(TstTevIpEdit)
#include "tst_tevipedit.moc"
