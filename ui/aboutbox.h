// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The small frameless about box opened from the logo button: logo, name and
// version, build date and an OK button.

#include <QDialog>

namespace corla {

class AboutBox : public QDialog
{
    Q_OBJECT

public:
    // Made without a parent; callers keep it on the stack and exec() it.
    AboutBox(const QString& appName, const QString& version, const QString& buildDate);
    ~AboutBox() override;
};

} // namespace corla
