// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// An IPv4 address editor: four single-octet fields separated by fixed dots
// that the keyboard walks through as if typing a dotted address.

#include "core/wire/addresses.h"

#include <QFrame>
#include <QLineEdit>
#include <QList>
#include <QMetaType>
#include <cstdint>

namespace corla {

enum OctetPosition : uint8_t
{
    FirstOctet = 0, // leftmost
    SecondOctet = 1,
    ThirdOctet = 2,
    FourthOctet = 3,
};

// One octet: 0 to 255 or empty, at most three characters.
class OctetEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit OctetEdit(const QString& text = QString(), QWidget* parent = nullptr);

signals:
    void jumpNext();
    void jumpPrev();

public slots:
    // Focus arriving by keyboard navigation: the text is selected at once.
    void jumpIn();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Set when focus arrives; the next mouse release selects the whole text,
    // so the first click into a field readies it to be typed over.
    bool m_selectOnRelease = false;
};

class Ipv4Edit : public QFrame
{
    Q_OBJECT

public:
    explicit Ipv4Edit(QWidget* parent = nullptr);

    // Empty octets read as 0.
    Ipv4Address address() const;
    void setAddress(const Ipv4Address& address);
    // 0 for an empty text or one that is no octet value.
    uint8_t octetValue(OctetPosition octet) const;
    void clear();
    void jumpToOctet(OctetPosition octet);
    // Every field holds 0 to 255 or nothing (which reads as 0).
    bool isValidIp() const;
    // A run of one bits, possibly empty, followed by at least one zero bit.
    bool isValidSubnetMask() const;

    OctetEdit* octetEdit(OctetPosition octet) const;

signals:
    // One octet field finished editing (Return, or it lost focus holding a number).
    void octetEdited(OctetPosition octet);
    // Editing of the whole address is over: focus left the four octets, or the
    // user tried to move past the first or the last one.
    void editingFinished();

private:
    void handleOctetFinished(int index);

    QList<OctetEdit*> m_octets;
};

} // namespace corla

Q_DECLARE_METATYPE(corla::OctetPosition)
