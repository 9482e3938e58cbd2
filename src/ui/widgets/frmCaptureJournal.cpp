#include "ui/widgets/frmCaptureJournal.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace evtrak {

namespace {
// A window left open for weeks keeps the newest lines only.
constexpr int kMaxLines = 10000;
} // namespace

TfmCaptureJournal::TfmCaptureJournal(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("fmCaptureJournal"));
    setWindowTitle(QStringLiteral("Journal de l'acquisition"));
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("lstCaptureJournal"));
    m_list->setUniformItemSizes(true);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* close = buttons->addButton(QStringLiteral("Fermer"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnClose"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    resize(760, 280);
}

void TfmCaptureJournal::AddLine(std::int64_t wallMs, const QString& text)
{
    const QString when =
        QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("dd/MM/yyyy hh:mm:ss"));
    m_list->addItem(when + QStringLiteral("  ") + text);
    if (m_list->count() > kMaxLines)
        delete m_list->takeItem(0);
    m_list->scrollToBottom();
}

QStringList TfmCaptureJournal::Lines() const
{
    QStringList out;
    for (int i = 0; i < m_list->count(); ++i)
        out << m_list->item(i)->text();
    return out;
}

} // namespace evtrak
