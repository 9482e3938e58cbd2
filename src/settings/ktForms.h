#pragma once
// Window geometry kept in section "FormsSizeAndPos" of the program's settings file, and
// the rules that keep a restored window on the screen.

#include <QList>
#include <QRect>
#include <QSize>
#include <QString>

namespace evtrak {

// One window as the geometry code sees it: its component name ("fmMain"), its outer
// geometry, and whether the user may resize it (dialog-style windows keep their size).
struct TFormGeometry
{
    QString name;
    QRect geometry;
    bool resizable = true;
};

// The four stored values of one window; -1 stands for a value never stored.
struct TFormPlacement
{
    int left = -1;
    int top = -1;
    int width = -1;
    int height = -1;
    friend bool operator==(const TFormPlacement&, const TFormPlacement&) = default;
};

// Applies stored values to a window of geometry current on a screen of size screen:
// values of 0 or more are taken (width and height only for a resizable window), then a
// window running off the right or bottom edge is centred on that axis, and a window
// larger than the screen (less 5 pixels) both ways fills the screen less 10 pixels from
// the top-left corner. Returns the new geometry.
QRect PlaceForm(QRect current, int left, int top, int width, int height, bool resizable,
                QSize screen);

// A window's outer rectangle moved (and, when it is larger, shrunk) so that it lies
// wholly inside area, the part of the screen free of panels.
QRect KeepInside(QRect outer, QRect area);

// The stored values for each name, in order (-1 for missing or unreadable values).
// Returns an empty list when the file does not exist.
QList<TFormPlacement> ReadFormsSizeAndPos(const QString& fileName, const QStringList& names);

// Places every window of forms from the stored values; does nothing when the file does
// not exist.
void LoadFormsSizeAndPos(const QString& fileName, QList<TFormGeometry>& forms, QSize screen);

// Writes left, top, width and height of every window, in order, keeping the rest of the
// file. Returns an empty string on success, else "Impossible d'écrire dans <fileName>".
QString SaveFormsSizeAndPos(const QString& fileName, const QList<TFormGeometry>& forms);

} // namespace evtrak
