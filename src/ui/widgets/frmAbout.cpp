#include "ui/widgets/frmAbout.h"

#include "ui/widgets/ktIcons.h"
#include "ui/widgets/uFormsGeometry.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace evtrak {

namespace {
// A quiet paper-like texture, made once: light blue-grey with fine diagonal hatching.
QPixmap MakeTexture()
{
    QPixmap pm(32, 32);
    pm.fill(QColor(0xE8, 0xEE, 0xF6));
    QPainter p(&pm);
    p.setPen(QColor(0xDA, 0xE2, 0xEE));
    for (int k = -32; k < 32; k += 4)
        p.drawLine(k, 0, k + 32, 32);
    return pm;
}
} // namespace

TfmAbout::TfmAbout(QWidget* parent) : QDialog(parent), m_texture(MakeTexture())
{
    InitFixedDialog(*this, QStringLiteral("fmAbout"), QStringLiteral("A propos"));

    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcon().pixmap(48, 48));
    auto* title = new QLabel(QStringLiteral("<b style='font-size:14pt;color:#1c3f94'>Evtrak</b><br>"
                                            "Acquisition de données"),
                             this);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addWidget(title, 1);

    auto* text =
        new QLabel(QStringLiteral("Version %1<br><br>"
                                  "Enregistrement des changements d'état des entrées<br>"
                                  "du port parallèle (13 entrées).<br><br>"
                                  "Logiciel libre, construit avec Qt %2.")
                       .arg(QStringLiteral(EVTRAK_VERSION), QString::fromLatin1(qVersion())),
                   this);
    text->setObjectName(QStringLiteral("lblAboutText"));
    text->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(text, 1);
    layout->addWidget(buttons);
    setFixedSize(305, 193);
}

void TfmAbout::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawTiledPixmap(rect(), m_texture);
}

} // namespace evtrak
