#include "ui/widgets/frmPrintOptions.h"

#include "ui/widgets/uFormsGeometry.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace evtrak {

TfmPrintOptions::TfmPrintOptions(QWidget* parent) : QDialog(parent)
{
    InitFixedDialog(*this, QStringLiteral("fmPrintOptions"),
                    QStringLiteral("Options d'impression"));

    auto* group = new QGroupBox(this);
    m_selection = new QRadioButton(QStringLiteral("Imprimer &sélection"), group);
    m_all = new QRadioButton(QStringLiteral("Imprimer &tout"), group);
    auto* gl = new QVBoxLayout(group);
    gl->addWidget(m_selection);
    gl->addWidget(m_all);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("&Annuler"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(group);
    layout->addWidget(buttons);
    setFixedSize(185, 105);
}

} // namespace evtrak
