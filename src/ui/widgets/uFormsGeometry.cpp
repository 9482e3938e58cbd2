#include "ui/widgets/uFormsGeometry.h"

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QMainWindow>
#include <QScreen>
#include <QWidget>

namespace evtrak {

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
    for (qsizetype i = 0; i < widgets.size(); ++i) {
        QWidget* w = widgets[i];
        const QRect& g = forms[i].geometry;
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
