// The main window's layout, its refresh (actions, status bar, list colour) and banner.
#include "ui/widgets/frmMain.h"

#include "acquisition/uCaptureControl.h"
#include "acquisition/uPortSelection.h"
#include "app/uSession.h"
#include "base/uResStr.h"
#include "eventlog/uLog.h"
#include "eventlog/uSavingPolicy.h"
#include "mqtt/uMqttStation.h"
#include "settings/uConf.h"
#include "ui/widgets/frmReport01.h"
#include "ui/widgets/ktColors.h"
#include "ui/widgets/ktElidedLabel.h"
#include "ui/widgets/uCaptureQualityView.h"
#include "ui/widgets/uEventListDelegate.h"
#include "ui/widgets/uEventView.h"
#include "ui/widgets/uFilterBar.h"
#include "ui/widgets/uFormsGeometry.h"
#include "ui/widgets/uLiveLines.h"
#include "ui/widgets/uMessagePrompt.h"

#include <QAction>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPrinter>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

namespace evtrak {

namespace {

constexpr int kDesignLeft = 375;
constexpr int kDesignTop = 246;
constexpr int kDesignWidth = 541;
constexpr int kDesignHeight = 364;
constexpr int kBannerHeight = 28;
constexpr std::array<int, kColumnCount> kDesignColumnWidths = {200, 60, 120, 100};
constexpr std::array<int, TfmMain::kPanelCount> kPanelWidths = {18, 40, 250, 100, 50};

// Sets a colour role in every colour group (a disabled widget keeps the colour too).
void SetRole(QPalette& pal, QPalette::ColorRole role, const QColor& c)
{
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, role, c);
}

} // namespace

TfmMain::TfmMain(const MainWindowSetup& setup, QWidget* parent)
    : QMainWindow(parent), m_setup(setup), m_session(setup.session),
      m_prefs(setup.session->prefs()), m_paths(setup.session->paths()),
      m_list(&setup.session->eventList()), m_policy(&setup.session->savingPolicy()),
      m_capture(&setup.session->capture()), m_mqtt(&setup.session->mqtt())
{
    setObjectName(QStringLiteral("fmMain"));
    setWindowTitle(ResStr::DefaultMainTitle());
    setFont(QFont(QStringLiteral("Arial"), 8));
    if (setup.prompt) {
        m_prompt = setup.prompt;
    } else {
        m_ownPrompt = std::make_unique<TMessagePrompt>(this);
        m_prompt = m_ownPrompt.get();
    }
    // The session's questions and boxes are the window's from now on.
    m_session->SetPrompt(m_prompt);
    m_conf = std::make_unique<TConf>();

    CreateLayout();
    CreateActions();
    CreateMenus();
    CreateQualityParts();

    connect(m_policy, &TSavingPolicy::captionChanged, this, &QWidget::setWindowTitle);
    connect(m_session, &TSession::notice, this, &TfmMain::ShowNotice);
    connect(m_list, &TEventList::lastEventChanged, this,
            [this](const QString& label, std::int32_t input) {
                const TInputPrefs in = GetInputPrefs(m_prefs, input);
                SetBanner(label, in.TextColor, in.BGColor);
            });
    // The "*" and the counters follow the list at once rather than at the next refresh.
    connect(m_list, &TEventList::modifiedChanged, this, &TfmMain::UpdateStatusBar);
    connect(m_policy, &TSavingPolicy::appendFailingChanged, this, &TfmMain::UpdateLastPanel);
    connect(m_capture, &TCaptureController::eventsArrived, this, &TfmMain::UpdateStatusBar);
    // Also reached when the worker ends by itself.
    connect(m_capture, &TCaptureController::captureStateChanged, this, &TfmMain::UpdateGui);
    connect(m_delegate, &TEventListDelegate::labelEdited, this, &TfmMain::lvEventsListEdited);
    connect(m_mqtt, &TMqttStation::statusChanged, this, [this](const QString& text) {
        m_mqttPanel->setText(text);
        m_mqttPanel->setToolTip(m_mqtt->ErrorText());
        m_mqttPanel->setVisible(!text.isEmpty());
    });

    setAcceptDrops(false); // until the first refresh
    move(kDesignLeft, kDesignTop);
    resize(FirstSize());
    FitOnScreen(this);
}

QSize TfmMain::FirstSize() const
{
    // Wide enough for the toolbar, the search bar and the list's four columns, whatever
    // the font; the design size when that is more.
    int columns =
        2 * m_lvEventsList->frameWidth() + m_lvEventsList->verticalScrollBar()->sizeHint().width();
    for (const int w : kDesignColumnWidths)
        columns += w;
    int width = std::max({kDesignWidth, columns, m_filterBar->minimumSizeHint().width()});
    if (const auto* tools = findChild<QToolBar*>(QStringLiteral("ToolBar1")))
        width = std::max(width, tools->sizeHint().width());
    return {width, std::max(kDesignHeight, minimumSizeHint().height())};
}

TfmMain::~TfmMain()
{
    // The prompt goes with the window; the session outlives it.
    m_session->SetPrompt(nullptr);
}

void TfmMain::CreateLayout()
{
    auto* central = new QWidget(this);
    auto* box = new QVBoxLayout(central);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(0);

    m_lblLastEvent = new QLabel(QStringLiteral("---"), central);
    m_lblLastEvent->setObjectName(QStringLiteral("lblLastEvent"));
    m_lblLastEvent->setFixedHeight(kBannerHeight);
    m_lblLastEvent->setAlignment(Qt::AlignCenter);
    m_lblLastEvent->setFont(QFont(QStringLiteral("Arial"), 14));
    m_lblLastEvent->setToolTip(QStringLiteral("Dernier évenement"));
    m_lblLastEvent->setAutoFillBackground(true);
    QPalette bannerPal = m_lblLastEvent->palette();
    SetRole(bannerPal, QPalette::Window, Qt::blue);
    SetRole(bannerPal, QPalette::WindowText, Qt::cyan);
    m_lblLastEvent->setPalette(bannerPal);
    box->addWidget(m_lblLastEvent);
    m_liveLines = new TLiveLines(central);
    box->addWidget(m_liveLines);

    m_filterBar = new TFilterBar(central);
    m_filterBar->hide();
    box->addWidget(m_filterBar);

    m_delegate = new TEventListDelegate(m_prefs, this);
    m_lvEventsList = new QTableView(central);
    m_lvEventsList->setObjectName(QStringLiteral("lvEventsList"));
    m_view = new TEventView(*m_lvEventsList, *m_list, this);
    // A new model resets the header: its sizes are not the user's.
    connect(m_view, &TEventView::modelAboutToChange, this, [this] { m_fittingColumns = true; });
    connect(m_view, &TEventView::modelChanged, this, [this] {
        m_fittingColumns = false;
        FitLabelColumn();
    });
    m_lvEventsList->setItemDelegate(m_delegate);
    m_lvEventsList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lvEventsList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_lvEventsList->setEditTriggers(QAbstractItemView::EditKeyPressed |
                                    QAbstractItemView::SelectedClicked |
                                    QAbstractItemView::DoubleClicked);
    m_lvEventsList->setSortingEnabled(false);
    m_lvEventsList->setWordWrap(false);
    m_lvEventsList->setShowGrid(false);
    m_lvEventsList->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_lvEventsList->setContextMenuPolicy(Qt::NoContextMenu); // the window's pop-up serves
    QHeaderView* rows = m_lvEventsList->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(QFontMetrics(font()).height() + 4);
    QHeaderView* cols = m_lvEventsList->horizontalHeader();
    cols->setSectionsClickable(false);
    cols->setHighlightSections(false);
    cols->setStretchLastSection(false);
    cols->setSectionResizeMode(QHeaderView::Interactive);
    cols->setMinimumSectionSize(0);
    cols->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int i = 0; i < kColumnCount; ++i)
        cols->resizeSection(i, kDesignColumnWidths[size_t(i)]);
    m_labelColumnWidth = kDesignColumnWidths[0];
    m_columns = MakeColumnWidths(cols, &m_labelColumnWidth, [this] { FitLabelColumn(); });
    // The label column takes the width the other columns leave: the user's width is
    // kept as the least it gets.
    connect(cols, &QHeaderView::sectionResized, this, [this](int section, int, int size) {
        if (section == TEventList::ColLabel && !m_fittingColumns) {
            m_labelColumnWidth = size;
            FitLabelColumn();
        } else if (section != TEventList::ColLabel) {
            FitLabelColumn();
        }
    });
    m_lvEventsList->viewport()->installEventFilter(this);
    // The selection stays visible when the list loses the focus.
    QPalette listPal = m_lvEventsList->palette();
    listPal.setColor(QPalette::Inactive, QPalette::Highlight,
                     listPal.color(QPalette::Active, QPalette::Highlight));
    listPal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     listPal.color(QPalette::Active, QPalette::HighlightedText));
    m_lvEventsList->setPalette(listPal);
    box->addWidget(m_lvEventsList, 1);
    setCentralWidget(central);

    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    for (int i = 0; i < kPanelCount; ++i) {
        auto* panel = new TElidedLabel(kPanelWidths[size_t(i)], bar);
        // The capture state is a sentence: it shortens with "..." (its tooltip shows it
        // whole); the other panels hold short states that always show whole.
        panel->SetKeepWhole(i != 2);
        panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        // The panels shrink and elide in a narrow window; the last one (the pass rate,
        // "1 081 253 éch./s") takes what a wide window leaves.
        bar->addWidget(panel, i == kPanelCount - 1 ? 1 : 0);
        m_panels[size_t(i)] = panel;
    }
    // "%d / %d affichés" while a filter hides rows.
    m_filterPanel = new TElidedLabel(110, bar);
    m_filterPanel->setObjectName(QStringLiteral("StatusBar1FilterPanel"));
    m_filterPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_filterPanel->SetKeepWhole(true);
    m_filterPanel->hide();
    bar->addPermanentWidget(m_filterPanel);
    m_mqttPanel = new QLabel(bar);
    m_mqttPanel->setObjectName(QStringLiteral("StatusBarMqtt"));
    m_mqttPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_mqttPanel->hide();
    bar->addWidget(m_mqttPanel);
}

QString TfmMain::statusText(int panel) const
{
    if (panel < 0 || panel >= kPanelCount)
        return {};
    return m_panels[size_t(panel)]->text();
}

QAction* TfmMain::action(const QString& objectName) const
{
    return findChild<QAction*>(objectName, Qt::FindDirectChildrenOnly);
}

void TfmMain::UpdateGui()
{
    UpdateActions();
    UpdateStatusBar();
    // After a failed interface test the list keeps its greyed look but stays usable:
    // a file from another machine must still be read, selected and copied.
    UpdateListColor();
}

void TfmMain::UpdateStatusBar()
{
    const bool running = m_capture->CaptureRunning();
    const QString texts[kPanelCount] = {
        m_list->Modified() ? QStringLiteral("*") : QString(),
        PortPanelText(),
        running ? ResStr::CaptureRunningStatus() : ResStr::CaptureStoppedStatus(),
        ResStr::CountersStatus(m_list->CaptureCount(), m_list->TotalCount()),
    };
    for (int i = 0; i < kPanelCount - 1; ++i)
        m_panels[size_t(i)]->setText(texts[i]);
    // The port panel keeps the room of its longest name; the last one the room of its
    // usual texts, so that the rate does not make the bar jump.
    QStringList ports;
    for (const int port : {psLPT1, psLPT2})
        ports << PortPanelText(port);
    m_panels[1]->SetWholeTexts(ports);
    m_panels[size_t(kPanelCount - 1)]->SetWholeTexts({ResStr::AppendFailingStatus(),
                                                      CaptureQualityStatus(true, 9999999, 0),
                                                      CaptureQualityStatus(false, 0, 0)});
    UpdateLastPanel();
    UpdateFilterCount();
}

void TfmMain::UpdateLastPanel()
{
    // Failing per-event appends come first: the user must know the events are not on
    // disk yet.
    QLabel* panel = m_panels[size_t(kPanelCount - 1)];
    const bool failing = m_policy->AppendFailing();
    panel->setText(failing ? ResStr::AppendFailingStatus() : m_quality->StatusText());
    panel->setToolTip(
        failing ? ResStr::AppendFailing(QFileInfo(m_policy->CurrentEventFile()).fileName())
                : QString());
    panel->setStyleSheet(failing ? QStringLiteral("QLabel { color: white; background: #C00000; }")
                                 : QString());
}

QString TfmMain::PortPanelText(int port) const
{
    const QString name = GetPortName(port < 0 ? m_prefs.PortBaseAddressIndex : port);
    if (name.isEmpty() || m_setup.portMode.isEmpty())
        return name;
    return QStringLiteral("%1 (%2)").arg(name, m_setup.portMode);
}

void TfmMain::FitLabelColumn()
{
    QHeaderView* cols = m_lvEventsList->horizontalHeader();
    if (m_fittingColumns || cols->isSectionHidden(TEventList::ColLabel))
        return;
    int others = 0;
    for (int i = 0; i < cols->count(); ++i)
        if (i != TEventList::ColLabel && !cols->isSectionHidden(i))
            others += cols->sectionSize(i);
    const int spare = m_lvEventsList->viewport()->width() - others;
    m_fittingColumns = true;
    cols->resizeSection(TEventList::ColLabel, std::max(m_labelColumnWidth, spare));
    m_fittingColumns = false;
}

bool TfmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && watched == m_lvEventsList->viewport())
        FitLabelColumn();
    return QMainWindow::eventFilter(watched, event);
}

void TfmMain::UpdateListColor()
{
    // Window background while the interface answers, button face after a failed test.
    const bool accessible = m_capture->PortAccessible();
    const QPalette sys = QGuiApplication::palette();
    const TColor c = accessible ? clWindow : clBtnFace;
    QPalette pal = m_lvEventsList->palette();
    SetRole(pal, QPalette::Base, ToQColor(c, sys));
    SetRole(pal, QPalette::Text,
            accessible ? sys.color(QPalette::Active, QPalette::Text)
                       : sys.color(QPalette::Disabled, QPalette::Text));
    m_lvEventsList->setPalette(pal);
}

void TfmMain::SetBanner(const QString& text, TColor textColor, TColor bgColor)
{
    if (m_banner.Text == text && m_banner.TextColor == textColor && m_banner.BGColor == bgColor)
        return;
    m_banner = Banner{text, textColor, bgColor};
    m_lblLastEvent->setText(text);
    QPalette pal = m_lblLastEvent->palette();
    const QPalette sys = QGuiApplication::palette();
    SetRole(pal, QPalette::Window, ToQColor(bgColor, sys));
    SetRole(pal, QPalette::WindowText, ToQColor(textColor, sys));
    m_lblLastEvent->setPalette(pal);
    Q_EMIT bannerChanged(text);
}

QWidget* TfmMain::modalParent()
{
    return this;
}

} // namespace evtrak
