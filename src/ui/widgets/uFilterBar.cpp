#include "ui/widgets/uFilterBar.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

namespace evtrak {

namespace {
constexpr int kTypingDelayMs = 150; // a long list is filtered once the typing pauses

QLabel* Buddy(const QString& caption, QWidget* buddy, QWidget* parent)
{
    auto* l = new QLabel(caption, parent);
    l->setBuddy(buddy);
    return l;
}
} // namespace

TFilterBar::TFilterBar(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FilterBar"));
    m_text = new QLineEdit(this);
    m_text->setObjectName(QStringLiteral("edFilterText"));
    m_text->setPlaceholderText(QStringLiteral("texte du libellé"));
    m_text->setClearButtonEnabled(true);
    m_inputs = new QLineEdit(this);
    m_inputs->setObjectName(QStringLiteral("edFilterInputs"));
    m_inputs->setPlaceholderText(QStringLiteral("0, 3, 5-7"));
    // "0, 3, 5-7" fits whole; the label text gets room for a word or two at least.
    m_inputs->setMinimumWidth(
        m_inputs->fontMetrics().horizontalAdvance(QStringLiteral("0, 3, 5-7")) + 16);
    m_inputs->setMaximumWidth(m_inputs->minimumWidth() * 2);
    m_text->setMinimumWidth(
        m_text->fontMetrics().horizontalAdvance(QStringLiteral("texte du libellé")) + 24);
    m_useFrom = new QCheckBox(QStringLiteral("&Du"), this);
    m_useFrom->setObjectName(QStringLiteral("cbFilterFrom"));
    m_useTo = new QCheckBox(QStringLiteral("A&u"), this);
    m_useTo->setObjectName(QStringLiteral("cbFilterTo"));
    for (QDateTimeEdit** e : {&m_from, &m_to}) {
        *e = new QDateTimeEdit(this);
        (*e)->setDisplayFormat(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
        (*e)->setCalendarPopup(true);
        (*e)->setEnabled(false);
        (*e)->setDateTime(QDateTime(QDate::currentDate(), QTime(0, 0)));
    }
    m_from->setObjectName(QStringLiteral("edFilterFrom"));
    m_to->setObjectName(QStringLiteral("edFilterTo"));
    m_to->setTime(QTime(23, 59, 59));
    m_state = new QComboBox(this);
    m_state->setObjectName(QStringLiteral("cbFilterState"));
    m_state->addItems({QStringLiteral("Tous"), QStringLiteral("[ON]"), QStringLiteral("[OFF]")});
    auto* close = new QToolButton(this);
    close->setObjectName(QStringLiteral("btnFilterClose"));
    close->setText(QStringLiteral("✕"));
    close->setToolTip(QStringLiteral("Fermer la recherche (Échap)"));
    close->setAutoRaise(true);

    // Two groups, side by side when the window is wide enough, else one above the other:
    // the fields keep a usable width at any window size.
    m_what = new QWidget(this);
    auto* what = new QHBoxLayout(m_what);
    what->setContentsMargins(0, 0, 0, 0);
    what->addWidget(Buddy(QStringLiteral("&Libellé :"), m_text, this));
    what->addWidget(m_text, 2);
    what->addWidget(Buddy(QStringLiteral("E&ntrées :"), m_inputs, this));
    what->addWidget(m_inputs);
    what->addWidget(Buddy(QStringLiteral("É&tat :"), m_state, this));
    what->addWidget(m_state);
    what->addWidget(close);
    m_when = new QWidget(this);
    auto* when = new QHBoxLayout(m_when);
    when->setContentsMargins(0, 0, 0, 0);
    when->addWidget(m_useFrom);
    when->addWidget(m_from);
    when->addWidget(m_useTo);
    when->addWidget(m_to);
    when->addStretch(1);
    m_rows = new QBoxLayout(QBoxLayout::LeftToRight, this);
    m_rows->setContentsMargins(4, 2, 4, 2);
    m_rows->addWidget(m_what, 1);
    m_rows->addWidget(m_when);
    QWidget* const order[] = {m_text, m_inputs, m_state, close, m_useFrom, m_from, m_useTo, m_to};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    m_delay = new QTimer(this);
    m_delay->setSingleShot(true);
    m_delay->setInterval(kTypingDelayMs);
    connect(m_delay, &QTimer::timeout, this, &TFilterBar::filterChanged);
    const auto later = [this] { m_delay->start(); };
    connect(m_text, &QLineEdit::textChanged, this, later);
    connect(m_inputs, &QLineEdit::textChanged, this, later);
    connect(m_inputs, &QLineEdit::textChanged, this, &TFilterBar::MarkInputs);
    connect(m_from, &QDateTimeEdit::dateTimeChanged, this, later);
    connect(m_to, &QDateTimeEdit::dateTimeChanged, this, later);
    connect(m_useFrom, &QCheckBox::toggled, m_from, &QWidget::setEnabled);
    connect(m_useTo, &QCheckBox::toggled, m_to, &QWidget::setEnabled);
    connect(m_useFrom, &QCheckBox::toggled, this, &TFilterBar::filterChanged);
    connect(m_useTo, &QCheckBox::toggled, this, &TFilterBar::filterChanged);
    connect(m_state, &QComboBox::currentIndexChanged, this, &TFilterBar::filterChanged);
    connect(close, &QToolButton::clicked, this, &TFilterBar::closeRequested);
}

EventFilter TFilterBar::filter() const
{
    EventFilter f;
    f.Text = m_text->text();
    f.Inputs = m_inputs->text();
    if (m_useFrom->isChecked())
        f.FromSeconds = SecondsFromDateTime(DateTimeFromQt(m_from->dateTime()));
    if (m_useTo->isChecked())
        f.ToSeconds = SecondsFromDateTime(DateTimeFromQt(m_to->dateTime()));
    f.StateWanted = static_cast<EventFilter::State>(std::max(0, m_state->currentIndex()));
    return f;
}

bool TFilterBar::inputsValid() const
{
    std::vector<bool> inputs;
    return m_inputs->text().trimmed().isEmpty() || ParseInputList(m_inputs->text(), inputs);
}

void TFilterBar::MarkInputs()
{
    // An unreadable list lets no row through: the field says why at once.
    const bool valid = inputsValid();
    if (valid == m_inputs->styleSheet().isEmpty())
        return;
    m_inputs->setStyleSheet(valid ? QString()
                                  : QStringLiteral("QLineEdit { border: 2px solid #e00000; }"));
    m_inputs->setToolTip(
        valid ? QString()
              : QStringLiteral("Liste d'entrées illisible : des numéros de 0 à 255 séparés par "
                               "des virgules, ou des plages comme 5-7. Aucun évenement n'est "
                               "affiché."));
}

void TFilterBar::focusText()
{
    m_text->setFocus(Qt::ShortcutFocusReason);
    m_text->selectAll();
}

void TFilterBar::proposeDates(const QDateTime& from, const QDateTime& to)
{
    if (!m_useFrom->isChecked() && from.isValid())
        m_from->setDateTime(from);
    if (!m_useTo->isChecked() && to.isValid())
        m_to->setDateTime(to);
}

bool TFilterBar::IsWrapped() const
{
    return m_rows->direction() == QBoxLayout::TopToBottom;
}

QSize TFilterBar::minimumSizeHint() const
{
    // The bar can always wrap: it needs the width of its wider group only.
    const QMargins m = m_rows->contentsMargins();
    const int width =
        std::max(m_what->minimumSizeHint().width(), m_when->minimumSizeHint().width());
    return {width + m.left() + m.right(), QWidget::minimumSizeHint().height()};
}

void TFilterBar::resizeEvent(QResizeEvent* event)
{
    const QMargins m = m_rows->contentsMargins();
    const int oneRow = m_what->minimumSizeHint().width() + m_when->minimumSizeHint().width() +
                       m_rows->spacing() + m.left() + m.right();
    const auto direction = width() >= oneRow ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom;
    if (direction != m_rows->direction()) {
        m_rows->setDirection(direction);
        updateGeometry(); // one row or two: the bar's height changes
    }
    QWidget::resizeEvent(event);
}

void TFilterBar::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        Q_EMIT closeRequested();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace evtrak
