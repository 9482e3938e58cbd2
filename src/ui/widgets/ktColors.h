#pragma once
// Stored colours (0x00BBGGRR, or 0x80000000 + a desktop colour index) to and from Qt.

#include "settings/uUserPrefs.h"

#include <QColor>
#include <QPalette>

namespace evtrak {

// A plain colour as its red, green and blue; a desktop colour as the palette's nearest
// role: window background -> Base, window text -> Text, button face -> Button,
// highlight -> Highlight, highlight text -> HighlightedText, others -> a role close in
// meaning (Window when none is).
QColor ToQColor(TColor c, const QPalette& pal);

// The plain colour 0x00BBGGRR of c (an invalid colour gives black).
TColor FromQColor(const QColor& c);

} // namespace evtrak
