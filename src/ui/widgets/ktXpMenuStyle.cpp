#include "ui/widgets/ktXpMenuStyle.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QStyleOption>
#include <QToolBar>

namespace evtrak {

XpMenuStyle::XpMenuStyle() : QProxyStyle(nullptr) {}

namespace {
constexpr int kTextGap = 8;      // between the icon column and the text
constexpr int kRightMargin = 16; // room for the sub-menu arrow
constexpr int kItemHeight = 22;
constexpr int kSeparatorHeight = 7;

QColor HotFill(const QPalette& pal)
{
    // The highlight colour, lightened over the menu background: filled but readable.
    const QColor h = pal.color(QPalette::Highlight);
    const QColor b = pal.color(QPalette::Base);
    return QColor((h.red() + 3 * b.red()) / 4, (h.green() + 3 * b.green()) / 4,
                  (h.blue() + 3 * b.blue()) / 4);
}
} // namespace

void XpMenuStyle::drawHot(QPainter* p, const QRect& r, const QPalette& pal) const
{
    p->fillRect(r, HotFill(pal));
    p->setPen(pal.color(QPalette::Highlight));
    p->setBrush(Qt::NoBrush);
    p->drawRect(r.adjusted(0, 0, -1, -1));
}

void XpMenuStyle::drawMenuItem(const QStyleOption* opt, QPainter* p) const
{
    const auto* mi = qstyleoption_cast<const QStyleOptionMenuItem*>(opt);
    if (!mi)
        return;
    const QPalette& pal = mi->palette;
    const QRect r = mi->rect;
    p->save();
    p->fillRect(r, pal.color(QPalette::Base));
    p->fillRect(QRect(r.left(), r.top(), kIconColumn, r.height()), pal.color(QPalette::Button));

    if (mi->menuItemType == QStyleOptionMenuItem::Separator) {
        p->setPen(pal.color(QPalette::Mid));
        const int y = r.center().y();
        p->drawLine(r.left() + kIconColumn + kTextGap, y, r.right(), y);
        p->restore();
        return;
    }

    const bool enabled = mi->state & State_Enabled;
    const bool hot = enabled && (mi->state & State_Selected);
    if (hot)
        drawHot(p, r.adjusted(1, 0, -1, 0), pal);

    // Icon, or a check mark for a checkable entry without icon.
    const QRect iconRect(r.left(), r.top(), kIconColumn, r.height());
    if (!mi->icon.isNull()) {
        const QIcon::Mode mode = enabled ? QIcon::Normal : QIcon::Disabled;
        const QPixmap pm = mi->icon.pixmap(QSize(16, 16), p->device()->devicePixelRatio(), mode);
        const QRect pr =
            QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, QSize(16, 16), iconRect);
        if (mi->checked)
            drawHot(p, pr.adjusted(-2, -2, 2, 2), pal);
        p->drawPixmap(pr, pm);
    } else if (mi->checkType != QStyleOptionMenuItem::NotCheckable && mi->checked) {
        QStyleOption check(*mi);
        check.rect = QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, QSize(12, 12), iconRect);
        proxy()->drawPrimitive(PE_IndicatorMenuCheckMark, &check, p, nullptr);
    }

    // Caption and shortcut (after a tab).
    QString text = mi->text;
    QString shortcut;
    if (const int tab = text.indexOf(QLatin1Char('\t')); tab >= 0) {
        shortcut = text.mid(tab + 1);
        text.truncate(tab);
    }
    p->setPen(enabled ? pal.color(QPalette::Text) : pal.color(QPalette::Disabled, QPalette::Text));
    p->setFont(mi->font);
    const QRect textRect = r.adjusted(kIconColumn + kTextGap, 0, -kRightMargin, 0);
    p->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextShowMnemonic, text);
    if (!shortcut.isEmpty())
        p->drawText(textRect, Qt::AlignVCenter | Qt::AlignRight, shortcut);

    if (mi->menuItemType == QStyleOptionMenuItem::SubMenu) {
        QStyleOption arrow(*mi);
        arrow.rect = QRect(r.right() - kRightMargin + 4, r.top(), 8, r.height());
        proxy()->drawPrimitive(PE_IndicatorArrowRight, &arrow, p, nullptr);
    }
    p->restore();
}

void XpMenuStyle::drawControl(ControlElement element, const QStyleOption* opt, QPainter* p,
                              const QWidget* w) const
{
    switch (element) {
    case CE_MenuItem:
        drawMenuItem(opt, p);
        return;
    case CE_MenuBarEmptyArea:
    case CE_ToolBar:
        p->fillRect(opt->rect, opt->palette.color(QPalette::Window));
        return;
    case CE_MenuBarItem:
        if (const auto* mi = qstyleoption_cast<const QStyleOptionMenuItem*>(opt)) {
            p->fillRect(opt->rect, opt->palette.color(QPalette::Window));
            const bool hot =
                (opt->state & State_Enabled) && (opt->state & (State_Selected | State_Sunken));
            if (hot)
                drawHot(p, opt->rect, opt->palette);
            p->setPen(opt->palette.color((opt->state & State_Enabled) ? QPalette::Active
                                                                      : QPalette::Disabled,
                                         QPalette::WindowText));
            p->drawText(opt->rect, Qt::AlignCenter | Qt::TextShowMnemonic, mi->text);
            return;
        }
        break;
    default:
        break;
    }
    QProxyStyle::drawControl(element, opt, p, w);
}

void XpMenuStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* opt, QPainter* p,
                                const QWidget* w) const
{
    switch (element) {
    case PE_PanelMenu:
        p->fillRect(opt->rect, opt->palette.color(QPalette::Base));
        return;
    case PE_FrameMenu:
        p->setPen(opt->palette.color(QPalette::Dark));
        p->setBrush(Qt::NoBrush);
        p->drawRect(opt->rect.adjusted(0, 0, -1, -1));
        return;
    case PE_PanelMenuBar:
    case PE_PanelToolBar:
        p->fillRect(opt->rect, opt->palette.color(QPalette::Window));
        return;
    case PE_PanelButtonTool: {
        const bool enabled = opt->state & State_Enabled;
        if (enabled && (opt->state & (State_MouseOver | State_Sunken | State_On)))
            drawHot(p, opt->rect, opt->palette);
        return;
    }
    default:
        break;
    }
    QProxyStyle::drawPrimitive(element, opt, p, w);
}

QSize XpMenuStyle::sizeFromContents(ContentsType type, const QStyleOption* opt, const QSize& size,
                                    const QWidget* w) const
{
    QSize s = QProxyStyle::sizeFromContents(type, opt, size, w);
    if (type == CT_MenuItem) {
        if (const auto* mi = qstyleoption_cast<const QStyleOptionMenuItem*>(opt)) {
            if (mi->menuItemType == QStyleOptionMenuItem::Separator)
                return QSize(s.width(), kSeparatorHeight);
            const QFontMetrics fm(mi->font);
            QString text = mi->text;
            int extra = 0;
            if (const int tab = text.indexOf(QLatin1Char('\t')); tab >= 0) {
                extra = fm.horizontalAdvance(text.mid(tab + 1)) + 24;
                text.truncate(tab);
            }
            const int width =
                kIconColumn + kTextGap + fm.horizontalAdvance(text) + extra + kRightMargin + 8;
            return QSize(std::max(width, s.width()), std::max(kItemHeight, fm.height() + 6));
        }
    }
    return s;
}

int XpMenuStyle::pixelMetric(PixelMetric metric, const QStyleOption* opt, const QWidget* w) const
{
    switch (metric) {
    case PM_MenuPanelWidth:
        return 1;
    case PM_MenuHMargin:
        return 0;
    case PM_MenuVMargin:
        return 1;
    case PM_ToolBarItemSpacing:
        return 2;
    default:
        return QProxyStyle::pixelMetric(metric, opt, w);
    }
}

XpMenuStyle* XpMenuStyleInstance()
{
    static QPointer<XpMenuStyle> instance;
    if (!instance) {
        instance = new XpMenuStyle;
        instance->setParent(qApp);
    }
    return instance;
}

void ApplyXpMenuStyle(QMainWindow* window, QMenu* popup, bool on)
{
    QStyle* style = on ? static_cast<QStyle*>(XpMenuStyleInstance()) : nullptr;
    QList<QWidget*> targets;
    if (window) {
        targets << window->menuBar();
        for (QMenu* m : window->findChildren<QMenu*>())
            targets << m;
        // A widget's style does not reach its children: the toolbar's buttons too.
        for (QToolBar* t : window->findChildren<QToolBar*>()) {
            targets << t;
            for (QWidget* c : t->findChildren<QWidget*>())
                targets << c;
        }
    }
    if (popup)
        targets << popup;
    for (QWidget* t : targets)
        if (t)
            t->setStyle(style);
}

} // namespace evtrak
