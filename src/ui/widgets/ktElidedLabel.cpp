#include "ui/widgets/ktElidedLabel.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace evtrak {

TElidedLabel::TElidedLabel(int designWidth, QWidget* parent)
    : QLabel(parent), m_designWidth(designWidth)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

QSize TElidedLabel::sizeHint() const
{
    // Wide enough for the whole text when it is longer than the design width.
    const int frame = 2 * frameWidth() + 2 * margin() + 4;
    const int textWidth = fontMetrics().horizontalAdvance(text()) + frame;
    return {std::max(m_designWidth, textWidth), QLabel::sizeHint().height()};
}

QSize TElidedLabel::minimumSizeHint() const
{
    return {std::min(m_designWidth, 2 * frameWidth() + fontMetrics().horizontalAdvance(u'M') * 2),
            QLabel::minimumSizeHint().height()};
}

void TElidedLabel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event); // the sunken frame
    QPainter p(this);
    const QRect r = contentsRect().adjusted(margin() + 1, 0, -margin() - 1, 0);
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, r.width());
    style()->drawItemText(&p, r, int(alignment()) | Qt::AlignVCenter, palette(), isEnabled(), shown,
                          foregroundRole());
}

} // namespace evtrak
