#pragma once

#include <QColor>
#include <QIcon>

// How a success or a failure looks wherever the client shows an outcome: one colour each, and
// an icon drawn in it (a tick, a cross), so that the two never depend on colour alone.
namespace OutcomeStyle {

constexpr QRgb kSuccessColour = 0xFF2E7D32;
constexpr QRgb kFailureColour = 0xFFC62828;

QColor colour(bool success);
QIcon icon(bool success);

} // namespace OutcomeStyle
