#pragma once
// A status-bar panel: keeps its design width when there is room, shrinks with the
// window and then ends its text with "...", so panels never draw over each other.

#include <QLabel>

namespace evtrak {

class TElidedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit TElidedLabel(int designWidth, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_designWidth;
};

} // namespace evtrak
