#pragma once
// The event list's cells: the coloured drawing of whole rows (input colours, the
// selected-row scheme, the red "---" mark of a row that cannot be drawn) and the
// in-place editor of labels.

#include "base/uLabelText.h"
#include "settings/uUserPrefs.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRect>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QValidator>
#include <QVector>

class QPainter;

namespace evtrak {

// Everything one row needs to be drawn.
struct EventRowPaint
{
    QRect rowRect;       // the whole row, all columns, in the painter's coordinates
    QVector<int> widths; // current width of every list column, in column order
    QStringList texts;   // the row's cell texts (fewer than widths is a failure)
    bool selected = false;
    QFont font;             // the list's font
    QPalette systemPalette; // maps the desktop's colours (window background...)
};

// Colours of the selected-row scheme.
inline constexpr TColor kSelLabelBG = 0x008000;   // green
inline constexpr TColor kSelLabelText = 0x00FF00; // lime
inline constexpr TColor kSelRestBG = 0x80FFFF;    // light yellow
inline constexpr TColor kSelRestText = 0x000000;  // black
inline constexpr TColor kFailText = 0x0000FF;     // red
inline constexpr int kRowTextMargin = 6;

// Draws one row: each text at the top of the row, 6 px into its cell, on an opaque
// background, never clipped to its column (a long text runs on into the next column,
// whose own text, drawn later, covers it). A selected row is framed by a black and a
// white line. The caller clips to what must be repainted.
void PaintEventRow(QPainter& p, const EventRowPaint& row, const TUserPrefs& prefs);

// Keeps from a label editor every character a label may not hold (IsLabelChar): typed
// or pasted text holding one is refused whole, or, with dropRefused, enters without it.
class TLabelValidator : public QValidator
{
public:
    explicit TLabelValidator(QObject* parent, bool dropRefused = false)
        : QValidator(parent), m_drop(dropRefused)
    {}
    State validate(QString& input, int& pos) const override;

private:
    bool m_drop;
};

class TEventListDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    TEventListDelegate(const TUserPrefs& prefs, QObject* parent = nullptr);

    // Coloured drawing on, or the platform's standard look.
    void setOwnerDraw(bool on) { m_ownerDraw = on; }
    bool ownerDraw() const { return m_ownerDraw; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

Q_SIGNALS:
    // A label was changed in place (the list is then modified).
    void labelEdited(int row) const;

private:
    const TUserPrefs& m_prefs;
    bool m_ownerDraw = false;
};

} // namespace evtrak
