#include "ui/widgets/uLiveLines.h"

#include "ui/widgets/ktColors.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>

namespace evtrak {

namespace {

// The inputs' background colour is the window colour by default; an indicator lit in
// that colour would look off, so those light in green.
const QColor kDefaultOn(0x3C, 0xC8, 0x3C);

} // namespace

TLiveLines::TLiveLines(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("pnLiveLines"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(2);
    for (int i = 0; i < kInputCount; ++i) {
        auto* cell = new QLabel(QString::number(i), this);
        cell->setObjectName(QStringLiteral("lblLine%1").arg(i));
        cell->setAlignment(Qt::AlignCenter);
        cell->setAutoFillBackground(true);
        cell->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        cell->setMinimumWidth(22);
        row->addWidget(cell, 1);
        m_cells[std::size_t(i)] = cell;
    }
    m_active.fill(true);
    m_onColors.fill(kDefaultOn);
}

void TLiveLines::SetInputs(const TUserPrefs& prefs)
{
    const QPalette sys = QGuiApplication::palette();
    const QColor window = ToQColor(clWindow, sys);
    for (int i = 0; i < kInputCount; ++i) {
        const auto u = std::size_t(i);
        m_active[u] = prefs.Inputs[u].Active;
        const QColor bg = ToQColor(prefs.Inputs[u].BGColor, sys);
        m_onColors[u] = bg == window ? kDefaultOn : bg;
        m_cells[u]->setToolTip(QStringLiteral("Entrée %1 : %2").arg(i).arg(prefs.Inputs[u].Label));
        m_cells[u]->setEnabled(m_active[u]);
        Paint(i);
    }
    m_painted = true;
}

void TLiveLines::ShowStates(std::uint16_t word, bool running)
{
    const std::uint16_t lit = running ? word : 0;
    if (m_painted && lit == m_lit)
        return; // nothing changed: no repaint at 20 refreshes a second
    const std::uint16_t changed = m_painted ? std::uint16_t(lit ^ m_lit) : 0xFFFF;
    m_lit = lit;
    m_painted = true;
    for (int i = 0; i < kInputCount; ++i)
        if (changed & (1u << i))
            Paint(i);
}

bool TLiveLines::IsLit(int input) const
{
    return input >= 0 && input < kInputCount && m_active[std::size_t(input)] &&
           (m_lit & (1u << input)) != 0;
}

void TLiveLines::Paint(int input)
{
    const auto u = std::size_t(input);
    QLabel* cell = m_cells[u];
    QPalette pal = palette();
    QColor back = pal.color(QPalette::Button);
    if (!m_active[u])
        back = pal.color(QPalette::Disabled, QPalette::Window).darker(105);
    else if (m_lit & (1u << input))
        back = m_onColors[u];
    // The number stays readable on a dark input colour.
    const QColor text = qGray(back.rgb()) < 128 ? QColor(Qt::white) : QColor(Qt::black);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Window, back);
        if (group != QPalette::Disabled)
            pal.setColor(group, QPalette::WindowText, text);
    }
    cell->setPalette(pal);
}

} // namespace evtrak
