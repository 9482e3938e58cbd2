#include "ui/widgets/ktColorPicker.h"

#include "ui/widgets/ktColors.h"

#include <QColorDialog>
#include <QEvent>
#include <QPainter>
#include <QPixmap>

namespace evtrak {

namespace {

constexpr int kOtherValueRole = Qt::UserRole + 1; // marks the "Autre..." entry
constexpr int kValueRole = Qt::UserRole;

QString OtherCaption()
{
    return QStringLiteral("Autre...");
}

QString CustomCaption(TColor value)
{
    const auto v = static_cast<quint32>(value);
    // Shown as colour dialogs show it: red, green, blue.
    const QColor rgb(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
    return QStringLiteral("Personnalisée (%1)").arg(rgb.name().toUpper());
}

} // namespace

const std::vector<TColorPicker::NamedColor>& TColorPicker::NamedColors()
{
    // The classic sixteen-colour palette (values 0x00BBGGRR), then the desktop colours.
    static const std::vector<NamedColor> colors = {
        {"Noir", 0x000000},
        {"Marron", 0x000080},
        {"Vert", 0x008000},
        {"Olive", 0x008080},
        {"Bleu marine", 0x800000},
        {"Violet", 0x800080},
        {"Sarcelle", 0x808000},
        {"Gris", 0x808080},
        {"Argent", 0xC0C0C0},
        {"Rouge", 0x0000FF},
        {"Citron vert", 0x00FF00},
        {"Jaune", 0x00FFFF},
        {"Bleu", 0xFF0000},
        {"Fuchsia", 0xFF00FF},
        {"Aqua", 0xFFFF00},
        {"Blanc", 0xFFFFFF},
        {"Fond de fenêtre", clWindow},
        {"Texte de fenêtre", clWindowText},
        {"Face de bouton", clBtnFace},
    };
    return colors;
}

TColorPicker::TColorPicker(QWidget* parent) : QComboBox(parent)
{
    setMaxVisibleItems(24);
    for (const NamedColor& c : NamedColors())
        addItem(QString::fromUtf8(c.Name), QVariant::fromValue<qint32>(c.Value));
    addItem(OtherCaption());
    setItemData(count() - 1, true, kOtherValueRole);
    rebuildSwatches();
    setCurrentIndex(indexOfValue(m_color));
    connect(this, &QComboBox::activated, this, &TColorPicker::onActivated);
}

void TColorPicker::setChooser(Chooser chooser)
{
    m_chooser = std::move(chooser);
}

int TColorPicker::indexOfValue(TColor value) const
{
    for (int i = 0; i < count(); ++i) {
        if (itemData(i, kOtherValueRole).toBool())
            continue;
        if (itemData(i, kValueRole).value<qint32>() == value)
            return i;
    }
    return -1;
}

void TColorPicker::setColor(TColor value)
{
    int index = indexOfValue(value);
    if (index < 0) {
        // A colour of its own (free choice or read from a settings file): one entry
        // just before "Autre...", replacing the previous one of its kind.
        const int named = static_cast<int>(NamedColors().size());
        if (count() > named + 1)
            removeItem(named);
        insertItem(named, CustomCaption(value), QVariant::fromValue<qint32>(value));
        index = named;
        rebuildSwatches();
    }
    setCurrentIndex(index);
    if (value != m_color) {
        m_color = value;
        Q_EMIT colorChanged(value);
    }
}

void TColorPicker::onActivated(int index)
{
    if (!itemData(index, kOtherValueRole).toBool()) {
        setColor(itemData(index, kValueRole).value<qint32>());
        return;
    }
    const QColor initial = ToQColor(m_color, palette());
    const QColor chosen = m_chooser
                              ? m_chooser(initial, this)
                              : QColorDialog::getColor(initial, this, QStringLiteral("Couleur"));
    if (chosen.isValid())
        setColor(FromQColor(chosen));
    else
        setCurrentIndex(indexOfValue(m_color)); // cancelled: back to the colour it had
}

void TColorPicker::rebuildSwatches()
{
    const int side = fontMetrics().height() - 2;
    for (int i = 0; i < count(); ++i) {
        if (itemData(i, kOtherValueRole).toBool())
            continue;
        QPixmap swatch(side, side);
        swatch.fill(ToQColor(itemData(i, kValueRole).value<qint32>(), palette()));
        QPainter p(&swatch);
        p.setPen(Qt::black);
        p.drawRect(0, 0, side - 1, side - 1);
        p.end();
        setItemIcon(i, QIcon(swatch));
    }
}

void TColorPicker::changeEvent(QEvent* e)
{
    QComboBox::changeEvent(e);
    // The desktop colours follow the palette.
    if (e->type() == QEvent::PaletteChange || e->type() == QEvent::FontChange)
        rebuildSwatches();
}

} // namespace evtrak
