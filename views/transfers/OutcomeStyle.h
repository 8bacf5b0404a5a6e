#pragma once

#include "views/transfers/TransferOutcome.h"

#include <QColor>
#include <QIcon>

// How an outcome looks wherever the client shows one: the vocabulary's colour, and an icon drawn
// in it (an arrow, a tick, a bar, a cross, a clock), so that no outcome depends on colour alone.
namespace OutcomeStyle {

QColor colour(TransferOutcome::Kind kind);
QIcon icon(TransferOutcome::Kind kind);

} // namespace OutcomeStyle
