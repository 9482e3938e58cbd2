#include "ui/widgets/frmGoTo.h"

#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>

namespace evtrak {

TfmGoTo::TfmGoTo(const QDateTime& proposed, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("fmGoTo"));
    setWindowTitle(QStringLiteral("Aller à la date"));
    m_when = new QDateTimeEdit(proposed, this);
    m_when->setObjectName(QStringLiteral("edGoToDateTime"));
    m_when->setDisplayFormat(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    m_when->setCalendarPopup(true);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* go = buttons->addButton(QStringLiteral("&Aller"), QDialogButtonBox::AcceptRole);
    go->setObjectName(QStringLiteral("btnGoTo"));
    go->setDefault(true);
    buttons->addButton(QStringLiteral("A&nnuler"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("btnCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("&Date et heure :"), m_when);
    form->addRow(buttons);
    m_when->setFocus();
}

QDateTime TfmGoTo::dateTime() const
{
    return m_when->dateTime();
}

} // namespace evtrak
