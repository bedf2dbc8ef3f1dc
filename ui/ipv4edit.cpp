// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#include "ui/ipv4edit.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QMouseEvent>
#include <array>

namespace corla {

namespace {

constexpr int kOctetCount = 4;
constexpr int kOctetMax = 255;

// QIntValidator alone lets "256" through as an intermediate value (it only
// refuses numbers with more digits than the top), and it takes signs and group
// separators. An octet field must never hold anything but 0..255 in digits.
class OctetValidator : public QIntValidator
{
public:
    explicit OctetValidator(QObject* parent) : QIntValidator(0, kOctetMax, parent) {}

    State validate(QString& input, int& /*pos*/) const override
    {
        if (input.isEmpty())
            return Intermediate;
        for (const QChar c : qAsConst(input)) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return Invalid;
        }
        bool ok = false;
        const int value = input.toInt(&ok);
        return ok && value <= kOctetMax ? Acceptable : Invalid;
    }
};

// Decimal digits only, 0..255; anything else is no octet.
bool parseOctet(const QString& text, uint8_t* value)
{
    if (text.isEmpty() || text.size() > 3)
        return false;
    int result = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        result = result * 10 + (c.unicode() - '0');
    }
    if (result > kOctetMax)
        return false;
    *value = static_cast<uint8_t>(result);
    return true;
}

void applyCommonStyle(QLineEdit* field)
{
    field->setAlignment(Qt::AlignCenter);
    field->setStyleSheet(QStringLiteral("QLineEdit { padding: 2px; }"));
    field->setFrame(false);
    field->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

QLineEdit* makeDot(QWidget* parent)
{
    auto* dot = new QLineEdit(QStringLiteral("."), parent);
    applyCommonStyle(dot);
    dot->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    dot->setMaximumWidth(10);
    dot->setReadOnly(true);
    dot->setFocusPolicy(Qt::NoFocus);
    return dot;
}

} // namespace

OctetEdit::OctetEdit(const QString& text, QWidget* parent) : QLineEdit(text, parent)
{
    setValidator(new OctetValidator(this));
    setMaxLength(3);
}

void OctetEdit::jumpIn()
{
    setFocus(Qt::OtherFocusReason);
    m_selectOnRelease = false;
    selectAll();
}

void OctetEdit::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (key == Qt::Key_Space) {
        emit jumpNext();
        event->accept();
        return;
    }
    const int cursor = cursorPosition();
    if (cursor == 0 && (key == Qt::Key_Left || key == Qt::Key_Backspace)) {
        emit jumpPrev();
        event->accept();
        return;
    }
    if (cursor != text().size() || (key != Qt::Key_Right && key != Qt::Key_Period)) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    // An empty octet cannot be skipped with Right or '.'.
    if (!text().isEmpty())
        emit jumpNext();
    event->accept();
}

void OctetEdit::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    m_selectOnRelease = true;
}

void OctetEdit::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_selectOnRelease) {
        event->accept();
        return;
    }
    m_selectOnRelease = false;
    selectAll();
    QLineEdit::mouseReleaseEvent(event);
}

Ipv4Edit::Ipv4Edit(QWidget* parent) : QFrame(parent)
{
    qRegisterMetaType<OctetPosition>("OctetPosition");

    for (int i = 0; i < kOctetCount; ++i)
        m_octets.append(new OctetEdit(QString(), this));

    setFrameStyle(QFrame::Box | QFrame::Plain);
    setStyleSheet(
        QStringLiteral("QFrame { background-color: palette(base); border: 1px solid gray;}"));

    auto* layout = new QHBoxLayout(this);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);

    for (int i = 0; i < kOctetCount; ++i) {
        OctetEdit* field = m_octets.at(i);
        applyCommonStyle(field);
        layout->addWidget(field);
        if (i + 1 < kOctetCount) {
            connect(field, &OctetEdit::jumpNext, m_octets.at(i + 1), &OctetEdit::jumpIn);
            layout->addWidget(makeDot(this));
        }
        if (i > 0)
            connect(field, &OctetEdit::jumpPrev, m_octets.at(i - 1), &OctetEdit::jumpIn);
    }

    // Moving out past either end counts as finishing the address.
    connect(m_octets.first(), &OctetEdit::jumpPrev, this, &Ipv4Edit::editingFinished);
    connect(m_octets.last(), &OctetEdit::jumpNext, this, &Ipv4Edit::editingFinished);

    for (int i = 0; i < kOctetCount; ++i) {
        connect(m_octets.at(i), &QLineEdit::editingFinished, this,
                [this, i] { handleOctetFinished(i); });
    }
}

void Ipv4Edit::handleOctetFinished(int index)
{
    emit octetEdited(static_cast<OctetPosition>(index));
    // Focus moving between the octets of this address is still editing it.
    auto* focused = qobject_cast<OctetEdit*>(QApplication::focusWidget());
    if (!m_octets.contains(focused))
        emit editingFinished();
}

Ipv4Address Ipv4Edit::address() const
{
    std::array<uint8_t, 4> octets{};
    for (int i = 0; i < kOctetCount; ++i)
        octets[static_cast<size_t>(i)] = octetValue(static_cast<OctetPosition>(i));
    return Ipv4Address(octets);
}

void Ipv4Edit::setAddress(const Ipv4Address& address)
{
    const std::array<uint8_t, 4> octets = address.toArray();
    for (int i = 0; i < kOctetCount; ++i)
        m_octets.at(i)->setText(QString::number(octets[static_cast<size_t>(i)]));
}

uint8_t Ipv4Edit::octetValue(OctetPosition octet) const
{
    uint8_t value = 0;
    if (!parseOctet(octetEdit(octet)->text(), &value))
        return 0;
    return value;
}

void Ipv4Edit::clear()
{
    for (OctetEdit* field : m_octets)
        field->clear();
}

void Ipv4Edit::jumpToOctet(OctetPosition octet)
{
    OctetEdit* field = octetEdit(octet);
    field->setFocus(Qt::OtherFocusReason);
    field->selectAll();
}

bool Ipv4Edit::isValidIp() const
{
    uint8_t value = 0;
    for (const OctetEdit* field : m_octets) {
        if (!field->text().isEmpty() && !parseOctet(field->text(), &value))
            return false;
    }
    return true;
}

bool Ipv4Edit::isValidSubnetMask() const
{
    // Valid when the inverted mask is a non-empty run of low one bits; this
    // refuses 255.255.255.255 and any one bit after the first zero bit.
    const uint32_t hostBits = ~address().toInt();
    return hostBits != 0 && (hostBits & (hostBits + 1)) == 0;
}

OctetEdit* Ipv4Edit::octetEdit(OctetPosition octet) const
{
    return m_octets.at(qMin(static_cast<int>(octet), kOctetCount - 1));
}

} // namespace corla
