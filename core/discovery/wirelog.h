// SPDX-License-Identifier: Apache-2.0
// SPDX-FileCopyrightText: 2026 The Corla developers
#pragma once
// The codec's report lines (codec.h: the reset request's identity, the MAC of a reset
// answer, an unknown code) as debug lines of "corla.wire", with the codec's own texts.
// Off by default, like the other corla.* lines: "corla.wire.debug=true" or
// "corla.*.debug=true" turns them on. Every program that links the discovery library
// routes them there from its start; nothing needs to be called.

#include <QLoggingCategory>

namespace corla {

Q_DECLARE_LOGGING_CATEGORY(logWire)

} // namespace corla
