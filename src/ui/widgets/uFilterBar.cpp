#include "ui/widgets/uFilterBar.h"

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
    m_inputs->setMaximumWidth(80);
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

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->addWidget(Buddy(QStringLiteral("&Libellé :"), m_text, this));
    row->addWidget(m_text, 2);
    row->addWidget(Buddy(QStringLiteral("E&ntrées :"), m_inputs, this));
    row->addWidget(m_inputs);
    row->addWidget(m_useFrom);
    row->addWidget(m_from);
    row->addWidget(m_useTo);
    row->addWidget(m_to);
    row->addWidget(Buddy(QStringLiteral("É&tat :"), m_state, this));
    row->addWidget(m_state);
    row->addStretch(1);
    row->addWidget(close);

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

void TFilterBar::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        Q_EMIT closeRequested();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace evtrak
