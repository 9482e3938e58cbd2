// The options dialog's pages and buttons, and the bindings of their handlers.
#include "settings/widgets/frmOptions.h"

#include "ui/widgets/ktColorPicker.h"
#include "ui/widgets/uEventListDelegate.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

namespace evtrak {

namespace {

template <typename W> W* Named(W* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QCheckBox* CheckBox(const char* name, const QString& caption)
{
    return Named(new QCheckBox(caption), name);
}

QGroupBox* Group(const QString& caption, std::initializer_list<QWidget*> widgets)
{
    auto* box = new QGroupBox(caption);
    auto* layout = new QVBoxLayout(box);
    for (QWidget* w : widgets)
        layout->addWidget(w);
    return box;
}

// A radio group: the buttons' ids are their item indexes.
QGroupBox* RadioGroup(const char* name, const QString& caption, const QStringList& items,
                      QButtonGroup*& buttons)
{
    auto* box = Named(new QGroupBox(caption), name);
    auto* layout = new QVBoxLayout(box);
    buttons = new QButtonGroup(box);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items.at(i), box);
        b->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(i));
        buttons->addButton(b, i);
        layout->addWidget(b);
    }
    return box;
}

QWidget* Page(std::initializer_list<QWidget*> widgets)
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    for (QWidget* w : widgets)
        layout->addWidget(w);
    layout->addStretch(1);
    return page;
}

} // namespace

void TfmOptions::buildPages()
{
    setWindowTitle(QStringLiteral("Options"));
    setObjectName(QStringLiteral("fmOptions"));
    PageControl1 = Named(new QTabWidget(this), "PageControl1");
    buildAcquisitionPage();
    buildInputsPage();
    buildFormattingPage();
    buildReportPage();
    buildSavingPage();
    buildMiscPage();

    btnApply = Named(new QPushButton(QStringLiteral("Appliquer")), "btnApply");
    btnOK = Named(new QPushButton(QStringLiteral("OK")), "btnOK");
    btnCancel = Named(new QPushButton(QStringLiteral("Annuler")), "btnCancel");
    btnOK->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnApply);
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1);
    layout->addLayout(buttons);

    connect(btnOK, &QPushButton::clicked, this, &TfmOptions::btnOKClick);
    connect(btnApply, &QPushButton::clicked, this, &TfmOptions::btnApplyClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(PageControl1, &QTabWidget::currentChanged, this, &TfmOptions::PageControl1Change);
}

void TfmOptions::buildAcquisitionPage()
{
    cbMiscRunAppAtWindowsStartup =
        CheckBox("cbMiscRunAppAtWindowsStartup",
                 QStringLiteral("Démarrer le logiciel au lancement de Windows"));
    cbCaptureRunAtAppStartup =
        CheckBox("cbCaptureRunAtAppStartup",
                 QStringLiteral("Démarrer l'acquisition au lancement du logiciel"));
    cbPortsBaseAddressList = Named(new QComboBox, "cbPortsBaseAddressList");
    cbPortsBaseAddressList->addItems(
        {QStringLiteral("Port série COM 1"), QStringLiteral("Port série COM 2"),
         QStringLiteral("Port série COM 3"), QStringLiteral("Port série COM 4"),
         QStringLiteral("Port parallèle LPT 1"), QStringLiteral("Port parallèle LPT 2"),
         QStringLiteral("Port joystick JOY 1")});
    cbCaptureThreadPriority = Named(new QComboBox, "cbCaptureThreadPriority");
    cbCaptureThreadPriority->addItems({QStringLiteral("Minimale"), QStringLiteral("Très faible"),
                                       QStringLiteral("Faible"), QStringLiteral("Normale"),
                                       QStringLiteral("Elevée"), QStringLiteral("Très élevée"),
                                       QStringLiteral("Critique")});
    cbCaptureSaveEdge =
        CheckBox("cbCaptureSaveEdge", QStringLiteral("Enregistrer les changements d'état"));
    cbCaptureSaveDuration =
        CheckBox("cbCaptureSaveDuration", QStringLiteral("Enregistrer la durée des évenements"));

    PageControl1->addTab(
        Page({Group(QStringLiteral("Démarrage automatique"),
                    {cbMiscRunAppAtWindowsStartup, cbCaptureRunAtAppStartup}),
              Group(QStringLiteral("Interface matérielle utilisée pour l'acquisition"),
                    {cbPortsBaseAddressList}),
              Group(QStringLiteral("Priorité de l'acquisition"), {cbCaptureThreadPriority}),
              Group(QStringLiteral("Mode d'enregistrement des changements d'état"),
                    {cbCaptureSaveEdge, cbCaptureSaveDuration})}),
        QStringLiteral("Acquisition"));

    // A user's choice only: setting the selection from code runs no rule.
    connect(cbPortsBaseAddressList, &QComboBox::activated, this,
            &TfmOptions::cbPortsBaseAddressListChange);
}

void TfmOptions::buildInputsPage()
{
    cbInputList = Named(new QComboBox, "cbInputList");
    for (int i = 0; i < kInputCount; ++i)
        cbInputList->addItem(QStringLiteral("Entrée %1").arg(i));
    cbInputActive = CheckBox(
        "cbInputActive", QStringLiteral("Entrée &Active (prise en compte des changements d'état)"));
    cbInputInvert = CheckBox("cbInputInvert",
                             QStringLiteral("&Inverser état logique initial (état Haut au repos)"));
    edInputMinDuration = Named(new QSpinBox, "edInputMinDuration");
    edInputMinDuration->setRange(0, 10000);
    edInputMinDuration->setSingleStep(500);
    edEventLabel = Named(new QLineEdit, "edEventLabel");
    edEventLabel->setValidator(new TLabelValidator(edEventLabel, /*dropRefused=*/true));
    ccLogEventTextColor = Named(new TColorPicker, "ccLogEventTextColor");
    ccLogEventBGColor = Named(new TColorPicker, "ccLogEventBGColor");

    // The preview covers the fixed text; when it is hidden the fixed text shows.
    lblNoPreview = Named(new QLabel(QStringLiteral("<aucun apperçu>")), "lblNoPreview");
    lblNoPreview->setTextFormat(Qt::PlainText);
    lblNoPreview->setAlignment(Qt::AlignCenter);
    lblEventPreview = Named(new QLabel, "lblEventPreview");
    lblEventPreview->setTextFormat(Qt::PlainText);
    lblEventPreview->setAutoFillBackground(true);
    lblEventPreview->setAlignment(Qt::AlignCenter);
    lblEventPreview->setFrameShape(QFrame::Box);
    lblEventPreview->setMinimumHeight(fontMetrics().height() * 2);
    auto* previewBox = new QWidget;
    auto* previewStack = new QGridLayout(previewBox);
    previewStack->setContentsMargins(0, 0, 0, 0);
    previewStack->addWidget(lblNoPreview, 0, 0);
    previewStack->addWidget(lblEventPreview, 0, 0);

    auto* params = new QGroupBox(QStringLiteral("Paramètres de l'entrée sélectionnée"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Durée minimale pour prise en compte (en ms)"), edInputMinDuration);
    form->addRow(QStringLiteral("Libellé"), edEventLabel);
    form->addRow(QStringLiteral("Couleur du texte"), ccLogEventTextColor);
    form->addRow(QStringLiteral("Couleur de fond"), ccLogEventBGColor);
    form->addRow(QStringLiteral("Apperçu"), previewBox);
    auto* paramsLayout = new QVBoxLayout(params);
    paramsLayout->addWidget(cbInputActive);
    paramsLayout->addWidget(cbInputInvert);
    paramsLayout->addLayout(form);

    cbLogUseColors =
        CheckBox("cbLogUseColors", QStringLiteral("Différencier les évenements en les colorant"));
    PageControl1->addTab(Page({cbInputList, params, cbLogUseColors}), QStringLiteral("Entrées"));

    connect(cbInputList, &QComboBox::currentIndexChanged, this, &TfmOptions::cbInputListChange);
    connect(cbInputActive, &QCheckBox::toggled, this, &TfmOptions::cbInputActiveClick);
    connect(cbInputInvert, &QCheckBox::toggled, this, &TfmOptions::cbInputActiveClick);
    connect(edInputMinDuration, &QSpinBox::valueChanged, this, &TfmOptions::cbInputActiveClick);
    connect(edEventLabel, &QLineEdit::textChanged, this, &TfmOptions::cbInputActiveClick);
    connect(ccLogEventTextColor, &TColorPicker::colorChanged, this,
            &TfmOptions::cbInputActiveClick);
    connect(ccLogEventBGColor, &TColorPicker::colorChanged, this, &TfmOptions::cbInputActiveClick);
    // A change of the box, from a click or from code, runs the interface rule.
    connect(cbLogUseColors, &QCheckBox::toggled, this, &TfmOptions::cbPortsBaseAddressListChange);
}

void TfmOptions::buildFormattingPage()
{
    rgLogDurationFormat =
        RadioGroup("rgLogDurationFormat", QStringLiteral("Formatage des durées"),
                   {QStringLiteral("Toujours en milli-secondes (ms)"),
                    QStringLiteral("Toujours en secondes (s)"),
                    QStringLiteral("En seconde si durée > 1s, sinon en milli-secondes")},
                   rgLogDurationFormatButtons);
    PageControl1->addTab(Page({rgLogDurationFormat}), QStringLiteral("Formatage"));
}

void TfmOptions::buildReportPage()
{
    edReportMainTitle = Named(new QLineEdit, "edReportMainTitle");
    edReportSubTitle = Named(new QLineEdit, "edReportSubTitle");
    auto* titles =
        new QGroupBox(QStringLiteral("Titre principal et sous-titre du rapport imprimé"));
    auto* form = new QFormLayout(titles);
    form->addRow(QStringLiteral("Titre principal"), edReportMainTitle);
    form->addRow(QStringLiteral("Sous-titre"), edReportSubTitle);
    rgReportSorting = RadioGroup("rgReportSorting", QStringLiteral("Ordre des évenements imprimés"),
                                 {QStringLiteral("Tri ascendant (le plus récent en dernier)"),
                                  QStringLiteral("Tri descendant (le plus récent en premier)")},
                                 rgReportSortingButtons);
    cbLogPrintColors = CheckBox("cbLogPrintColors",
                                QStringLiteral("Utiliser les couleurs définies pour l'affichage"));
    PageControl1->addTab(
        Page({titles, rgReportSorting,
              Group(QStringLiteral("Couleurs des évenements imprimés"), {cbLogPrintColors})}),
        QStringLiteral("Rapport"));
}

void TfmOptions::buildSavingPage()
{
    rbLogSaveAutoOnExit =
        CheckBox("rbLogSaveAutoOnExit", QStringLiteral("A chaque sortie de l'application"));
    rbLogSaveAutoOnNewDay =
        CheckBox("rbLogSaveAutoOnNewDay",
                 QStringLiteral("Tous les jours à minuit (mode d'enregistrement continu)"));
    rbLogSaveAutoOnNewEvent =
        CheckBox("rbLogSaveAutoOnNewEvent",
                 QStringLiteral("A chaque évenement (réduit la précision de l'horodatage)"));
    rbLogSaveMakeBackup =
        CheckBox("rbLogSaveMakeBackup", QStringLiteral("Créer un fichier de sauvegarde (backup)"));
    PageControl1->addTab(
        Page({Group(QStringLiteral("Sauvegarde automatique"),
                    {rbLogSaveAutoOnExit, rbLogSaveAutoOnNewDay, rbLogSaveAutoOnNewEvent}),
              Group(QStringLiteral("Fichier de sauvegarde"), {rbLogSaveMakeBackup})}),
        QStringLiteral("Sauvegarde"));

    // "A chaque évenement" depends on "Tous les jours à minuit"; changes made from code
    // (filling the dialog) apply the rules too.
    connect(rbLogSaveAutoOnNewDay, &QCheckBox::toggled, this,
            &TfmOptions::rbLogSaveAutoOnNewDayClick);
    connect(rbLogSaveAutoOnNewEvent, &QCheckBox::toggled, this,
            &TfmOptions::rbLogSaveAutoOnNewEventClick);
}

void TfmOptions::buildMiscPage()
{
    edAppMainTitle = Named(new QLineEdit, "edAppMainTitle");
    cbMiscMenuAsXPStyle = CheckBox("cbMiscMenuAsXPStyle",
                                   QStringLiteral("Afficher les menus et les boutons en style XP"));
    cbLogShowGridLines = CheckBox("cbLogShowGridLines",
                                  QStringLiteral("Afficher une grille dans la liste d'évenements"));
    cbMiscShowErrorMessages =
        CheckBox("cbMiscShowErrorMessages",
                 QStringLiteral("Afficher le message détaillé décrivant l'erreur"));
    lnkVersionHistory =
        Named(new QLabel(QStringLiteral("<a href=\"history\">Historique des versions</a>")),
              "lnkVersionHistory");
    lnkVersionHistory->setTextFormat(Qt::RichText);
    lnkVersionHistory->setTextInteractionFlags(Qt::TextBrowserInteraction);
    PageControl1->addTab(
        Page({Group(QStringLiteral("Titre de la fenêtre principale"), {edAppMainTitle}),
              Group(QStringLiteral("Interface graphique"),
                    {cbMiscMenuAsXPStyle, cbLogShowGridLines}),
              Group(QStringLiteral("Lors d'une erreur grave"), {cbMiscShowErrorMessages}),
              lnkVersionHistory}),
        QStringLiteral("Divers"));
    connect(lnkVersionHistory, &QLabel::linkActivated, this, &TfmOptions::lnkVersionHistoryClick);
}

} // namespace evtrak
