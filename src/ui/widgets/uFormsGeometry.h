#pragma once
// The place and size of the program's windows, kept in the settings file.

#include "settings/ktForms.h"

#include <QList>
#include <QString>

class QDialog;
class QWidget;

namespace evtrak {

// The program's windows as the geometry code sees them: every top-level main window or
// dialog that has a name, shown or hidden (the print options live hidden).
QList<QWidget*> OpenForms();
TFormGeometry FormGeometryOf(const QWidget* w);

// A small fixed dialog: its name (the key of its geometry), title, only the close
// button in the title bar, and the program's 8-point Arial.
void InitFixedDialog(QDialog& dialog, const QString& objectName, const QString& title);

// The part of w's screen (the primary screen before w is shown) free of panels.
QRect AvailableArea(const QWidget* w);
// Shrinks w to its screen's free area when it is larger (a window manager's frame
// allowed for) and moves it inside. Dialogs that are not moved are then centred by Qt
// within the same area.
void FitOnScreen(QWidget* w);

// Places every open window from the file (nothing when it does not exist), keeping each
// inside the free area of the primary screen.
void LoadFormsSizeAndPos(const QString& fileName);
// Writes the geometry of every open window; empty on success, else the French error.
QString SaveFormsSizeAndPos(const QString& fileName);

} // namespace evtrak
