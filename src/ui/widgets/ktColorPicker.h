#pragma once
// Colour picker: a drop-down list of the classic sixteen colours and the three desktop
// colours, plus "Autre..." for any colour through a colour dialog. The value is a
// TColor (0x00BBGGRR, or 0x80000000 + a system colour index).

#include "settings/uUserPrefs.h"

#include <QColor>
#include <QComboBox>
#include <functional>
#include <vector>

namespace evtrak {

class TColorPicker : public QComboBox
{
    Q_OBJECT
public:
    explicit TColorPicker(QWidget* parent = nullptr);

    TColor color() const { return m_color; }
    // Selects value; a value that is in no entry gets an entry of its own.
    // Emits colorChanged when the value changes.
    void setColor(TColor value);

    // The free choice ("Autre..."): returns an invalid colour when cancelled.
    // Default: QColorDialog. Tests replace it.
    using Chooser = std::function<QColor(const QColor& initial, QWidget* parent)>;
    void setChooser(Chooser chooser);

    // The named entries, in list order (tests and documentation).
    struct NamedColor
    {
        const char* Name;
        TColor Value;
    };
    static const std::vector<NamedColor>& NamedColors();

Q_SIGNALS:
    void colorChanged(evtrak::TColor value);

protected:
    void changeEvent(QEvent* e) override;

private:
    void onActivated(int index);
    void rebuildSwatches();
    int indexOfValue(TColor value) const;

    TColor m_color = clBlack;
    Chooser m_chooser;
};

} // namespace evtrak
