// The options dialog's pages and buttons, and the bindings of their handlers.
#include "ui/widgets/frmOptions.h"

#include "acquisition/uCaptureQuality.h"
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
#include <QShortcut>
#include <QSpinBox>
#include <QSysInfo>
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
    buildNetworkPage();

    btnApply = Named(new QPushButton(QStringLiteral("A&ppliquer")), "btnApply");
    btnOK = Named(new QPushButton(QStringLiteral("O&K")), "btnOK");
    btnCancel = Named(new QPushButton(QStringLiteral("Ann&uler")), "btnCancel");
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
    // Ctrl+Tab and Ctrl+Shift+Tab turn the pages wherever the focus is, buttons included.
    const auto turn = [this](int step) {
        const int n = PageControl1->count();
        PageControl1->setCurrentIndex((PageControl1->currentIndex() + step + n) % n);
    };
    for (const QKeySequence& key : {QKeySequence(Qt::CTRL | Qt::Key_Tab)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, [turn] { turn(1); });
    for (const QKeySequence& key : {QKeySequence(Qt::CTRL | Qt::Key_Backtab),
                                    QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
                                    QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, [turn] { turn(-1); });
}

void TfmOptions::buildAcquisitionPage()
{
    cbMiscRunAppAtWindowsStartup =
        CheckBox("cbMiscRunAppAtWindowsStartup",
                 QStringLiteral("Démarrer le logiciel au lancement de la &session"));
    cbCaptureRunAtAppStartup =
        CheckBox("cbCaptureRunAtAppStartup",
                 QStringLiteral("&Démarrer l'acquisition au lancement du logiciel"));
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
    cbCaptureSamplingPeriod = Named(new QComboBox, "cbCaptureSamplingPeriod");
    for (const std::int32_t us : kSamplingPeriodChoices) {
        QString text;
        if (us == 0)
            text = QStringLiteral("Maximale (100 % d'un processeur)");
        else if (us < 1000)
            text = QStringLiteral("%1 µs").arg(us);
        else
            text = QStringLiteral("%1 ms").arg(us / 1000);
        cbCaptureSamplingPeriod->addItem(text, us);
    }
    cbCaptureSaveEdge =
        CheckBox("cbCaptureSaveEdge", QStringLiteral("&Enregistrer les changements d'état"));
    cbCaptureSaveDuration =
        CheckBox("cbCaptureSaveDuration", QStringLiteral("Enregistrer la durée des é&venements"));

    PageControl1->addTab(
        Page({Group(QStringLiteral("Démarrage automatique"),
                    {cbMiscRunAppAtWindowsStartup, cbCaptureRunAtAppStartup}),
              Group(QStringLiteral("Interface matérielle utilisée pour l'acquisition"),
                    {cbPortsBaseAddressList}),
              Group(QStringLiteral("Priorité de l'acquisition"), {cbCaptureThreadPriority}),
              Group(QStringLiteral("Période d'échantillonnage"), {cbCaptureSamplingPeriod}),
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
    edInputDebounce = Named(new QSpinBox, "edInputDebounce");
    edInputDebounce->setRange(0, 1000);
    edInputDebounce->setSingleStep(5);
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
    form->addRow(QStringLiteral("Anti-rebond (en ms, 0 : aucun)"), edInputDebounce);
    form->addRow(QStringLiteral("Libellé"), edEventLabel);
    form->addRow(QStringLiteral("Couleur du texte"), ccLogEventTextColor);
    form->addRow(QStringLiteral("Couleur de fond"), ccLogEventBGColor);
    form->addRow(QStringLiteral("Apperçu"), previewBox);
    auto* paramsLayout = new QVBoxLayout(params);
    paramsLayout->addWidget(cbInputActive);
    paramsLayout->addWidget(cbInputInvert);
    paramsLayout->addLayout(form);

    cbLogUseColors =
        CheckBox("cbLogUseColors", QStringLiteral("Différencier les évenements en les &colorant"));
    PageControl1->addTab(Page({cbInputList, params, cbLogUseColors}), QStringLiteral("Entrées"));

    connect(cbInputList, &QComboBox::currentIndexChanged, this, &TfmOptions::cbInputListChange);
    connect(cbInputActive, &QCheckBox::toggled, this, &TfmOptions::cbInputActiveClick);
    connect(cbInputInvert, &QCheckBox::toggled, this, &TfmOptions::cbInputActiveClick);
    connect(edInputMinDuration, &QSpinBox::valueChanged, this, &TfmOptions::cbInputActiveClick);
    connect(edInputDebounce, &QSpinBox::valueChanged, this, &TfmOptions::cbInputActiveClick);
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
                   {QStringLiteral("Toujours en &milli-secondes (ms)"),
                    QStringLiteral("Toujours en &secondes (s)"),
                    QStringLiteral("En seconde si durée > 1s, sinon en mi&lli-secondes")},
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
                                 // 0 prints the list's top row (the newest) first.
                                 {QStringLiteral("Tri desce&ndant (le plus récent en premier)"),
                                  QStringLiteral("Tri ascendan&t (le plus récent en dernier)")},
                                 rgReportSortingButtons);
    cbReportStatistics =
        CheckBox("cbReportStatistics",
                 QStringLiteral("Ajouter les statisti&ques par entrée à la fin du rapport"));
    cbLogPrintColors = CheckBox("cbLogPrintColors",
                                QStringLiteral("Utiliser les couleurs définies pour l'a&ffichage"));
    PageControl1->addTab(
        Page({titles, rgReportSorting,
              Group(QStringLiteral("Couleurs des évenements imprimés"), {cbLogPrintColors}),
              Group(QStringLiteral("Statistiques"), {cbReportStatistics})}),
        QStringLiteral("Rapport"));
}

void TfmOptions::buildSavingPage()
{
    rbLogSaveAutoOnExit =
        CheckBox("rbLogSaveAutoOnExit", QStringLiteral("A chaque s&ortie de l'application"));
    rbLogSaveAutoOnNewDay =
        CheckBox("rbLogSaveAutoOnNewDay",
                 QStringLiteral("Tous les &jours à minuit (mode d'enregistrement continu)"));
    rbLogSaveAutoOnNewEvent =
        CheckBox("rbLogSaveAutoOnNewEvent",
                 QStringLiteral("A chaque évenement (réduit la précision de l'&horodatage)"));
    rbLogSaveMakeBackup =
        CheckBox("rbLogSaveMakeBackup", QStringLiteral("Créer un fichier de sauvegarde (&backup)"));
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
    cbMiscMenuAsXPStyle = CheckBox(
        "cbMiscMenuAsXPStyle", QStringLiteral("Afficher les menus et les boutons en style &XP"));
    cbLogShowGridLines = CheckBox(
        "cbLogShowGridLines", QStringLiteral("Afficher une &grille dans la liste d'évenements"));
    cbMiscShowErrorMessages =
        CheckBox("cbMiscShowErrorMessages",
                 QStringLiteral("Afficher le message détaillé décrivant l'e&rreur"));
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

void TfmOptions::buildNetworkPage()
{
    cbMqttEnabled =
        CheckBox("cbMqttEnabled", QStringLiteral("Pu&blier les évenements sur un serveur MQTT"));
    edMqttHost = Named(new QLineEdit, "edMqttHost");
    edMqttHost->setPlaceholderText(QStringLiteral("nom ou adresse du serveur"));
    edMqttPort = Named(new QSpinBox, "edMqttPort");
    edMqttPort->setRange(0, 65535);
    edMqttPort->setSpecialValueText(QStringLiteral("automatique (1883, 8883 avec TLS)"));
    edMqttKeepAlive = Named(new QSpinBox, "edMqttKeepAlive");
    edMqttKeepAlive->setRange(5, 3600);
    edMqttKeepAlive->setSuffix(QStringLiteral(" s"));
    edMqttTopicPrefix = Named(new QLineEdit, "edMqttTopicPrefix");
    edMqttTopicPrefix->setPlaceholderText(QStringLiteral("evtrak"));
    edMqttStation = Named(new QLineEdit, "edMqttStation");
    edMqttStation->setPlaceholderText(QSysInfo::machineHostName());
    edMqttUsername = Named(new QLineEdit, "edMqttUsername");
    edMqttPassword = Named(new QLineEdit, "edMqttPassword");
    edMqttPassword->setEchoMode(QLineEdit::Password);
    edMqttCaFile = Named(new QLineEdit, "edMqttCaFile");
    edMqttCaFile->setPlaceholderText(QStringLiteral("vide : sans TLS"));
    edMqttCertFile = Named(new QLineEdit, "edMqttCertFile");
    edMqttKeyFile = Named(new QLineEdit, "edMqttKeyFile");

    auto* server = new QGroupBox(QStringLiteral("Serveur MQTT"));
    auto* serverForm = new QFormLayout(server);
    serverForm->addRow(QStringLiteral("Serveur"), edMqttHost);
    serverForm->addRow(QStringLiteral("Port"), edMqttPort);
    serverForm->addRow(QStringLiteral("Maintien de la connexion"), edMqttKeepAlive);
    auto* topics =
        new QGroupBox(QStringLiteral("Sujets : <préfixe>/<poste>/events, status, lines"));
    auto* topicsForm = new QFormLayout(topics);
    topicsForm->addRow(QStringLiteral("Préfixe"), edMqttTopicPrefix);
    topicsForm->addRow(QStringLiteral("Poste"), edMqttStation);
    auto* security = new QGroupBox(QStringLiteral("Identification et chiffrement (TLS)"));
    auto* securityForm = new QFormLayout(security);
    securityForm->addRow(QStringLiteral("Utilisateur"), edMqttUsername);
    securityForm->addRow(QStringLiteral("Mot de passe"), edMqttPassword);
    securityForm->addRow(QStringLiteral("Certificat de l'autorité (CA)"), edMqttCaFile);
    securityForm->addRow(QStringLiteral("Certificat du client"), edMqttCertFile);
    securityForm->addRow(QStringLiteral("Clé du client"), edMqttKeyFile);
    for (QGroupBox* box : {server, topics, security})
        connect(cbMqttEnabled, &QCheckBox::toggled, box, &QWidget::setEnabled);
    PageControl1->addTab(Page({cbMqttEnabled, server, topics, security}), QStringLiteral("Réseau"));
}

} // namespace evtrak
