#pragma once

#include <QColor>
#include <QPalette>

class QWidget;

namespace bopling {

// The text colours of the creature window, worked out from the window's own
// palette so that they follow the desktop's light or dark theme: primary text,
// the dimmer secondary and tertiary text, and an error red that stays
// readable on either background.
enum class LabelTone { primary, secondary, tertiary, error };

QColor toneColour(const QPalette &palette, LabelTone tone);

// Marks a label with its tone; applyTones() gives every marked label inside
// `window` its colour again (after a palette change).
void setTone(QWidget *label, LabelTone tone);
void applyTones(QWidget *window);

} // namespace bopling
