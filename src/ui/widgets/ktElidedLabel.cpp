#include "ui/widgets/ktElidedLabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QToolTip>

namespace evtrak {

TElidedLabel::TElidedLabel(int designWidth, QWidget* parent)
    : QLabel(parent), m_designWidth(designWidth)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

int TElidedLabel::TextWidth(const QString& text) const
{
    // The frame, the margins and the pixel kept free on each side of the text.
    return fontMetrics().horizontalAdvance(text) + 2 * frameWidth() + 2 * margin() + 4;
}

QRect TElidedLabel::TextRect() const
{
    return contentsRect().adjusted(margin() + 1, 0, -margin() - 1, 0);
}

QSize TElidedLabel::sizeHint() const
{
    // Wide enough for the whole text when it is longer than the design width.
    return {std::max(m_designWidth, TextWidth(text())), QLabel::sizeHint().height()};
}

QSize TElidedLabel::minimumSizeHint() const
{
    const int height = QLabel::minimumSizeHint().height();
    if (m_keepWhole) {
        int width = TextWidth(text());
        for (const QString& t : m_wholeTexts)
            width = std::max(width, TextWidth(t));
        return {width, height};
    }
    return {std::min(m_designWidth, 2 * frameWidth() + fontMetrics().horizontalAdvance(u'M') * 2),
            height};
}

void TElidedLabel::SetKeepWhole(bool keep)
{
    m_keepWhole = keep;
    updateGeometry();
}

void TElidedLabel::SetWholeTexts(const QStringList& texts)
{
    if (texts == m_wholeTexts)
        return;
    m_wholeTexts = texts;
    updateGeometry();
}

bool TElidedLabel::IsElided() const
{
    return fontMetrics().horizontalAdvance(text()) > TextRect().width();
}

bool TElidedLabel::event(QEvent* event)
{
    // A shortened text shows whole in the tooltip (unless the panel has one of its own).
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (IsElided())
            QToolTip::showText(help->globalPos(), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}

void TElidedLabel::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event); // the sunken frame
    QPainter p(this);
    const QRect r = TextRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, r.width());
    style()->drawItemText(&p, r, int(alignment()) | Qt::AlignVCenter, palette(), isEnabled(), shown,
                          foregroundRole());
}

} // namespace evtrak
