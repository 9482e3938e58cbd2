#pragma once
// The flat "XP" look of menus, pop-up menu and toolbar: an icon column 24 px wide, the
// entry under the mouse filled and framed in the highlight colour, no gradient.

#include <QProxyStyle>

class QMainWindow;
class QMenu;

namespace evtrak {

class XpMenuStyle : public QProxyStyle
{
    Q_OBJECT
public:
    static constexpr int kIconColumn = 24;

    XpMenuStyle();

    void drawControl(ControlElement element, const QStyleOption* opt, QPainter* p,
                     const QWidget* w) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* opt, QPainter* p,
                       const QWidget* w) const override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* opt, const QSize& size,
                           const QWidget* w) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* opt, const QWidget* w) const override;

private:
    void drawMenuItem(const QStyleOption* opt, QPainter* p) const;
    void drawHot(QPainter* p, const QRect& r, const QPalette& pal) const;
};

// The style shared by every window (owned by the application).
XpMenuStyle* XpMenuStyleInstance();

// Switches the look of the window's menu bar, its menus, its toolbars and the given
// pop-up menu: the XP look when on, the application's standard look when off.
void ApplyXpMenuStyle(QMainWindow* window, QMenu* popup, bool on);

} // namespace evtrak
