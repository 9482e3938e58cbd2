// The options dialog's pages and buttons, and the bindings of their handlers.
#include "ui/widgets/frmOptions.h"

#include "acquisition/uCaptureQuality.h"
#include "base/uResStr.h"
#include "ui/widgets/ktColorPicker.h"
#include "ui/widgets/ktIcons.h"
#include "ui/widgets/uEventListDelegate.h"
#include "ui/widgets/uFormsGeometry.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QSysInfo>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
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

// A page scrolls when the screen is too small for it, and otherwise asks for the room
// its whole content needs (a plain scroll area caps its size hint at a few hundred
// pixels).
class TPageScroll : public QScrollArea
{
public:
    QSize sizeHint() const override
    {
        const int frame = 2 * frameWidth();
        return widget()->sizeHint() + QSize(frame + verticalScrollBar()->sizeHint().width(), frame);
    }
};

QWidget* Page(std::initializer_list<QWidget*> widgets)
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    for (QWidget* w : widgets)
        layout->addWidget(w);
    layout->addStretch(1);
    auto* scroll = new TPageScroll;
    scroll->setWidget(page);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    return scroll;
}

// A group of labelled fields: the labels take the fields as buddies, so their letters
// move the focus.
QFormLayout* Form(QWidget* parent)
{
    auto* form = new QFormLayout(parent);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    return form;
}

} // namespace

void TfmOptions::buildPages()
{
    setWindowTitle(QStringLiteral("Options"));
    setObjectName(QStringLiteral("fmOptions"));
    // Seven pages do not fit side by side as tabs: their list at the left chooses them.
    PageControl1 = Named(new QTabWidget(this), "PageControl1");
    PageControl1->tabBar()->hide();
    PageControl1->setDocumentMode(true);
    buildAcquisitionPage();
    buildInputsPage();
    buildFormattingPage();
    buildReportPage();
    buildSavingPage();
    buildMiscPage();
    buildNetworkPage();
    lstPages = Named(new QListWidget, "lstPages");
    for (int i = 0; i < PageControl1->count(); ++i)
        lstPages->addItem(PageControl1->tabText(i));
    lstPages->setCurrentRow(0);
    lstPages->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    lstPages->setFixedWidth(lstPages->sizeHintForColumn(0) + 2 * lstPages->frameWidth() +
                            fontMetrics().horizontalAdvance(QStringLiteral("MM")));

    btnApply = Named(new QPushButton(QStringLiteral("A&ppliquer")), "btnApply");
    btnOK = Named(new QPushButton(QStringLiteral("O&K")), "btnOK");
    btnCancel = Named(new QPushButton(QStringLiteral("Ann&uler")), "btnCancel");
    btnOK->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnApply);
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* pages = new QHBoxLayout;
    pages->addWidget(lstPages);
    pages->addWidget(PageControl1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(pages, 1);
    layout->addLayout(buttons);

    connect(btnOK, &QPushButton::clicked, this, &TfmOptions::btnOKClick);
    connect(btnApply, &QPushButton::clicked, this, &TfmOptions::btnApplyClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(PageControl1, &QTabWidget::currentChanged, this, &TfmOptions::PageControl1Change);
    connect(PageControl1, &QTabWidget::currentChanged, lstPages,
            [this](int index) { lstPages->setCurrentRow(index); });
    connect(lstPages, &QListWidget::currentRowChanged, PageControl1, [this](int row) {
        if (row >= 0)
            PageControl1->setCurrentIndex(row);
    });
    // Ctrl+Tab and Ctrl+Shift+Tab turn the pages wherever the focus is, buttons included.
    // One shortcut a direction: two that match the same keys would cancel each other.
    // Ctrl+Shift+Tab arrives as Backtab (X11) or as Tab with Shift; Qt tries the second
    // when nothing takes the first.
    const auto turn = [this](int step) {
        const int n = PageControl1->count();
        PageControl1->setCurrentIndex((PageControl1->currentIndex() + step + n) % n);
    };
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this), &QShortcut::activated, this,
            [turn] { turn(1); });
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), this),
            &QShortcut::activated, this, [turn] { turn(-1); });
}

QWidget* TfmOptions::WithBrowseButton(QLineEdit* field, const char* name, const QString& what)
{
    auto* browse = Named(new QToolButton, name);
    browse->setIcon(ActionIcon("document-open"));
    browse->setToolTip(QStringLiteral("Choisir le fichier : %1").arg(what));
    browse->setAccessibleName(browse->toolTip());
    connect(browse, &QToolButton::clicked, this, [this, field, what] {
        const QString start = field->text().trimmed();
        const QString file = QFileDialog::getOpenFileName(
            this, what, start,
            QStringLiteral("Certificats et clés (*.pem *.crt *.cer *.key);;Tous les fichiers (*)"));
        if (!file.isEmpty())
            field->setText(file);
    });
    auto* row = new QWidget;
    auto* box = new QHBoxLayout(row);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(field, 1);
    box->addWidget(browse);
    row->setFocusProxy(field);
    return row;
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
    // The serial and joystick ports stay in the list (the stored index counts them) but
    // cannot be chosen; their tooltip says why.
    if (auto* model = qobject_cast<QStandardItemModel*>(cbPortsBaseAddressList->model())) {
        for (int i = 0; i < model->rowCount(); ++i) {
            if (i == psLPT1 || i == psLPT2)
                continue;
            QStandardItem* item = model->item(i);
            item->setEnabled(false);
            item->setToolTip(ResStr::OnlyParallelPorts());
        }
    }
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
    edCaptureStallThreshold = Named(new QSpinBox, "edCaptureStallThreshold");
    edCaptureStallThreshold->setRange(0, 10000);
    edCaptureStallThreshold->setSuffix(QStringLiteral(" ms"));
    edCaptureStallThreshold->setSpecialValueText(QStringLiteral("jamais"));
    edCaptureStallThreshold->setToolTip(
        QStringLiteral("Un intervalle plus long entre deux lectures du port est noté dans le "
                       "journal de l'acquisition : une impulsion plus courte a pu passer "
                       "inaperçue."));
    cbCaptureSaveEdge =
        CheckBox("cbCaptureSaveEdge", QStringLiteral("&Enregistrer les changements d'état"));
    cbCaptureSaveDuration =
        CheckBox("cbCaptureSaveDuration", QStringLiteral("Enregistrer la durée des é&venements"));

    auto* hardware = new QGroupBox(QStringLiteral("Acquisition"));
    auto* form = Form(hardware);
    form->addRow(QStringLiteral("&Interface matérielle"), cbPortsBaseAddressList);
    form->addRow(QStringLiteral("P&riorité"), cbCaptureThreadPriority);
    form->addRow(QStringLiteral("Péri&ode d'échantillonnage"), cbCaptureSamplingPeriod);
    form->addRow(QStringLiteral("Signaler une in&terruption de plus de"), edCaptureStallThreshold);
    PageControl1->addTab(Page({Group(QStringLiteral("Démarrage automatique"),
                                     {cbMiscRunAppAtWindowsStartup, cbCaptureRunAtAppStartup}),
                               hardware,
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
    auto* form = Form(nullptr);
    form->addRow(QStringLiteral("&Durée minimale pour prise en compte (en ms)"),
                 edInputMinDuration);
    form->addRow(QStringLiteral("Anti-re&bond (en ms, 0 : aucun)"), edInputDebounce);
    form->addRow(QStringLiteral("&Libellé"), edEventLabel);
    form->addRow(QStringLiteral("Couleur du &texte"), ccLogEventTextColor);
    form->addRow(QStringLiteral("Couleur de &fond"), ccLogEventBGColor);
    // The preview takes no focus: its caption has no letter.
    form->addRow(Named(new QLabel(QStringLiteral("Apperçu")), "lblPreviewCaption"), previewBox);
    auto* paramsLayout = new QVBoxLayout(params);
    paramsLayout->addWidget(cbInputActive);
    paramsLayout->addWidget(cbInputInvert);
    paramsLayout->addLayout(form);

    cbLogUseColors =
        CheckBox("cbLogUseColors", QStringLiteral("Différencier les évenements en les &colorant"));
    auto* choice = new QWidget;
    auto* choiceForm = Form(choice);
    choiceForm->setContentsMargins(0, 0, 0, 0);
    choiceForm->addRow(QStringLiteral("&Entrée"), cbInputList);
    PageControl1->addTab(Page({choice, params, cbLogUseColors}), QStringLiteral("Entrées"));

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
    auto* form = Form(titles);
    form->addRow(QStringLiteral("T&itre principal"), edReportMainTitle);
    form->addRow(QStringLiteral("&Sous-titre"), edReportSubTitle);
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
    auto* title = new QGroupBox(QStringLiteral("Fenêtre principale"));
    Form(title)->addRow(QStringLiteral("&Titre"), edAppMainTitle);
    PageControl1->addTab(
        Page({title,
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

    // One form for the whole page: every field starts at the same place.
    auto* fields = new QWidget;
    auto* form = Form(fields);
    form->setContentsMargins(0, 0, 0, 0);
    const auto heading = [form](const QString& text) {
        auto* l = new QLabel(QStringLiteral("<b>%1</b>").arg(text.toHtmlEscaped()));
        l->setTextFormat(Qt::RichText);
        form->addRow(l);
    };
    heading(QStringLiteral("Serveur MQTT"));
    form->addRow(QStringLiteral("&Serveur"), edMqttHost);
    form->addRow(QStringLiteral("P&ort"), edMqttPort);
    form->addRow(QStringLiteral("&Maintien de la connexion"), edMqttKeepAlive);
    heading(QStringLiteral("Sujets : <préfixe>/<poste>/events, status, lines"));
    form->addRow(QStringLiteral("Pré&fixe"), edMqttTopicPrefix);
    form->addRow(QStringLiteral("Pos&te"), edMqttStation);
    heading(QStringLiteral("Identification et chiffrement (TLS)"));
    form->addRow(QStringLiteral("Utilisat&eur"), edMqttUsername);
    form->addRow(QStringLiteral("Mot &de passe"), edMqttPassword);
    form->addRow(QStringLiteral("&Certificat de l'autorité (CA)"),
                 WithBrowseButton(edMqttCaFile, "btnMqttCaFile",
                                  QStringLiteral("certificat de l'autorité (CA)")));
    form->addRow(QStringLiteral("Certificat du c&lient"),
                 WithBrowseButton(edMqttCertFile, "btnMqttCertFile",
                                  QStringLiteral("certificat du client")));
    form->addRow(
        QStringLiteral("Clé du cl&ient"),
        WithBrowseButton(edMqttKeyFile, "btnMqttKeyFile", QStringLiteral("clé du client")));
    connect(cbMqttEnabled, &QCheckBox::toggled, fields, &QWidget::setEnabled);
    PageControl1->addTab(Page({cbMqttEnabled, fields}), QStringLiteral("Réseau"));
}

} // namespace evtrak
