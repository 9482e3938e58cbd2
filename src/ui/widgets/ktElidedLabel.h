#pragma once
// A status-bar panel: keeps its design width when there is room and never draws over its
// neighbours. A panel of short states ("Non écrit !", "LPT1 (fichier)") always shows its
// whole text: its least width is its longest text's. A panel holding a sentence shrinks
// with the window and ends its text with "...", its tooltip then showing the whole text.

#include <QLabel>
#include <QStringList>

namespace evtrak {

class TElidedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit TElidedLabel(int designWidth, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // true: the panel never gets narrower than its text, nor than the texts given to
    // SetWholeTexts (the other states it shows).
    void SetKeepWhole(bool keep);
    void SetWholeTexts(const QStringList& texts);
    // True when the text shown ends with "..." for want of room.
    bool IsElided() const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int TextWidth(const QString& text) const;
    QRect TextRect() const;

    int m_designWidth;
    bool m_keepWhole = false;
    QStringList m_wholeTexts;
};

} // namespace evtrak
