#pragma once

#include <QByteArray>
#include <QString>

// A stored text as it may be shown in one line: control characters become escapes ("\n", "\t",
// "\x01"), so that a stored text can neither break a layout nor send sequences to a terminal.
QString visibleText(const QByteArray &text);
