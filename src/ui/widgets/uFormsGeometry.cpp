#include "ui/widgets/uFormsGeometry.h"

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QMainWindow>
#include <QScreen>
#include <QWidget>

namespace evtrak {

namespace {

// What a window manager adds around a window: a title bar and thin borders. pos() is the
// frame's corner, size() the window's own.
const QMargins kFrame(4, 30, 4, 4);

// The window's place moved (and shrunk when resizable) inside area, frame included.
QRect InsideArea(QRect g, bool resizable, const QRect& area)
{
    const QSize extra(kFrame.left() + kFrame.right(), kFrame.top() + kFrame.bottom());
    const QRect outer = KeepInside(QRect(g.topLeft(), g.size() + extra), area);
    return QRect(outer.topLeft(), resizable ? outer.size() - extra : g.size());
}

} // namespace

QRect AvailableArea(const QWidget* w)
{
    const QScreen* screen = w && w->isVisible() ? w->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

void FitOnScreen(QWidget* w)
{
    // A window not yet shown nor sized has a default size of no meaning: its layout's
    // wish counts.
    const bool sized = w->isVisible() || w->testAttribute(Qt::WA_Resized);
    const QSize wanted = sized ? w->size() : w->sizeHint();
    const QRect g = InsideArea(QRect(w->pos(), wanted), true, AvailableArea(w));
    w->resize(g.size());
    if (w->testAttribute(Qt::WA_Moved) || w->isVisible())
        w->move(g.topLeft());
}

void InitFixedDialog(QDialog& dialog, const QString& objectName, const QString& title)
{
    dialog.setObjectName(objectName);
    dialog.setWindowTitle(title);
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint);
    QFont f(QStringLiteral("Arial"));
    f.setPointSize(8);
    dialog.setFont(f);
}

QList<QWidget*> OpenForms()
{
    QList<QWidget*> forms;
    const auto all = QApplication::topLevelWidgets();
    for (QWidget* w : all) {
        if (!w->isWindow() || w->objectName().isEmpty())
            continue;
        if (qobject_cast<QMainWindow*>(w) || qobject_cast<QDialog*>(w))
            forms << w;
    }
    return forms;
}

TFormGeometry FormGeometryOf(const QWidget* w)
{
    // Left and top are the frame's; width and height are the window's own size, which
    // is what can be restored before the window manager has framed the window.
    TFormGeometry g;
    g.name = w->objectName();
    g.geometry = QRect(w->pos(), w->size());
    g.resizable = w->minimumSize() != w->maximumSize();
    return g;
}

void LoadFormsSizeAndPos(const QString& fileName)
{
    const QList<QWidget*> widgets = OpenForms();
    QList<TFormGeometry> forms;
    for (const QWidget* w : widgets)
        forms << FormGeometryOf(w);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->geometry().size() : QSize(1024, 768);
    LoadFormsSizeAndPos(fileName, forms, size);
    const QRect area = AvailableArea(nullptr);
    for (qsizetype i = 0; i < widgets.size(); ++i) {
        QWidget* w = widgets[i];
        const QRect g = InsideArea(forms[i].geometry, forms[i].resizable, area);
        w->move(g.topLeft());
        if (forms[i].resizable)
            w->resize(g.size());
    }
}

QString SaveFormsSizeAndPos(const QString& fileName)
{
    QList<TFormGeometry> forms;
    const auto widgets = OpenForms();
    for (const QWidget* w : widgets)
        forms << FormGeometryOf(w);
    return SaveFormsSizeAndPos(fileName, forms);
}

} // namespace evtrak
