#include "ui/widgets/uEventListDelegate.h"

#include "ui/widgets/ktColors.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QTableView>

namespace evtrak {

namespace {

// The painter state of the row being drawn: a fill colour (also the opaque background
// of texts) and a text colour.
struct Pen
{
    QPainter& p;
    QFontMetrics fm;
    int top;
    int height; // texts are centred in the row, as the style centres plain rows

    void fill(const QRect& r, const QColor& c) { p.fillRect(r, c); }
    void use(const QColor& text, const QColor& background)
    {
        p.setPen(text);
        p.setBackground(background);
    }
    void text(int x, const QString& s)
    {
        p.drawText(QPoint(x, top + (height - fm.height()) / 2 + fm.ascent()), s);
    }
};

} // namespace

QValidator::State TLabelValidator::validate(QString& input, int& pos) const
{
    if (!m_drop)
        return IsValidLabel(input) ? Acceptable : Invalid;
    for (qsizetype i = input.size() - 1; i >= 0; --i) {
        if (!IsLabelChar(input.at(i))) {
            input.remove(i, 1);
            if (pos > i)
                --pos;
        }
    }
    return Acceptable;
}

void PaintEventRow(QPainter& p, const EventRowPaint& row, const TUserPrefs& prefs)
{
    p.save();
    const QRect& r = row.rowRect;
    const QColor window = ToQColor(clWindow, row.systemPalette);
    QFont font = row.font;
    font.setBold(false);
    p.setFont(font);
    p.setBackgroundMode(Qt::OpaqueMode);
    Pen pen{p, QFontMetrics(font), r.top(), r.height()};

    int x = r.left() + kRowTextMargin;
    const int columns = int(row.widths.size());
    const int w0 = columns > 0 ? row.widths[0] : 0;
    bool ok = !row.texts.isEmpty() && columns > 0;
    if (ok && row.selected) {
        pen.fill(QRect(QPoint(r.left(), r.top()), QPoint(r.left() + w0 - 1, r.bottom())),
                 ToQColor(kSelLabelBG, row.systemPalette));
        QFont bold = font;
        bold.setBold(true);
        p.setFont(bold);
        pen.fm = QFontMetrics(bold);
        pen.use(ToQColor(kSelLabelText, row.systemPalette),
                ToQColor(kSelLabelBG, row.systemPalette));
        pen.text(x, QStringLiteral("> ") + row.texts[0]);
        const QColor rest = ToQColor(kSelRestBG, row.systemPalette);
        pen.fill(QRect(QPoint(r.left() + w0, r.top()), r.bottomRight()), rest);
        p.setFont(font);
        pen.fm = QFontMetrics(font);
        pen.use(ToQColor(kSelRestText, row.systemPalette), rest);
    } else if (ok) {
        int input = 0;
        if (row.texts.size() > 1)
            input = row.texts[1].trimmed().toInt(&ok);
        else
            ok = false;
        if (ok) {
            const TInputPrefs in = GetInputPrefs(prefs, input);
            const QColor bg = ToQColor(in.BGColor, row.systemPalette);
            pen.fill(r, bg);
            pen.use(ToQColor(in.TextColor, row.systemPalette), bg);
            pen.text(x, row.texts[0]);
        }
    }
    for (int i = 0; ok && i + 1 < columns; ++i) {
        x += row.widths[i];
        if (i + 1 >= row.texts.size()) {
            ok = false;
            break;
        }
        pen.text(x, row.texts[i + 1]);
    }
    if (!ok) {
        pen.use(ToQColor(kFailText, row.systemPalette), window);
        pen.text(x, QStringLiteral("---"));
    }
    if (row.selected && r.height() > 4) {
        // A black line around a white one: the selected row stands out from rows of any
        // colour, also those of an input coloured like the selection.
        // Filled in logical pixels, so that the lines keep touching at any scale.
        const auto frame = [&p](const QRect& f, const QColor& c) {
            p.fillRect(QRect(f.left(), f.top(), f.width(), 1), c);
            p.fillRect(QRect(f.left(), f.bottom(), f.width(), 1), c);
            p.fillRect(QRect(f.left(), f.top(), 1, f.height()), c);
            p.fillRect(QRect(f.right(), f.top(), 1, f.height()), c);
        };
        frame(r, Qt::black);
        frame(r.adjusted(1, 1, -1, -1), Qt::white);
    }
    p.restore();
}

TEventListDelegate::TEventListDelegate(const TUserPrefs& prefs, QObject* parent)
    : QStyledItemDelegate(parent), m_prefs(prefs)
{}

void TEventListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const
{
    const auto* view = qobject_cast<const QTableView*>(option.widget);
    if (!m_ownerDraw || !view || !index.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // Every cell draws the whole row clipped to itself: a partial repaint of one cell
    // then shows exactly what a repaint of the whole row would.
    const QHeaderView* header = view->horizontalHeader();
    const QAbstractItemModel* model = index.model();
    EventRowPaint row;
    const int columns = header->count();
    row.widths.reserve(columns);
    for (int c = 0; c < columns; ++c)
        row.widths.push_back(header->isSectionHidden(c) ? 0 : header->sectionSize(c));
    for (int c = 0; c < model->columnCount(index.parent()); ++c) {
        const QVariant v = model->index(index.row(), c, index.parent()).data(Qt::DisplayRole);
        if (!v.isValid())
            break;
        row.texts << v.toString();
    }
    const int left = -header->offset();
    row.rowRect = QRect(left, option.rect.top(), header->length(), option.rect.height());
    row.selected = option.state.testFlag(QStyle::State_Selected);
    row.font = option.font;
    row.systemPalette = QGuiApplication::palette();

    painter->save();
    painter->setClipRect(option.rect, Qt::IntersectClip);
    PaintEventRow(*painter, row, m_prefs);
    painter->restore();
}

QWidget* TEventListDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                          const QModelIndex& index) const
{
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor))
        line->setValidator(new TLabelValidator(line));
    return editor;
}

void TEventListDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                      const QModelIndex& index) const
{
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (!line) {
        QStyledItemDelegate::setModelData(editor, model, index);
        return;
    }
    const QString text = line->text();
    if (!IsValidLabel(text) || text == index.data(Qt::EditRole).toString())
        return;
    if (model->setData(index, text, Qt::EditRole))
        Q_EMIT labelEdited(index.row());
}

} // namespace evtrak
