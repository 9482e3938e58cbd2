// The main window's layout, its refresh (actions, status bar, list colour) and banner.
#include "ui/widgets/frmMain.h"

#include "acquisition/uCaptureControl.h"
#include "acquisition/uPortSelection.h"
#include "eventlog/uLog.h"
#include "eventlog/uSavingPolicy.h"
#include "settings/uConf.h"
#include "ui/widgets/frmReport01.h"
#include "ui/widgets/ktColors.h"
#include "ui/widgets/uEventListDelegate.h"
#include "ui/widgets/uMessagePrompt.h"
#include "ui/uResStr.h"

#include <QAction>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QStatusBar>
#include <QTableView>
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
    : QMainWindow(parent), m_setup(setup), m_prefs(DefaultUserPrefs())
{
    Q_ASSERT(setup.ports);
    setObjectName(QStringLiteral("fmMain"));
    setWindowTitle(ResStr::DefaultMainTitle());
    setFont(QFont(QStringLiteral("Arial"), 8));
    if (setup.prompt) {
        m_prompt = setup.prompt;
    } else {
        m_ownPrompt = std::make_unique<TMessagePrompt>(this);
        m_prompt = m_ownPrompt.get();
    }
    const Clock& clock = setup.clock ? *setup.clock : SystemClock();
    m_list = std::make_unique<TEventList>(m_prefs);
    m_policy = std::make_unique<TSavingPolicy>(*m_list, m_prefs, *m_prompt, clock);
    m_conf = std::make_unique<TConf>();
    m_capture =
        std::make_unique<TCaptureController>(m_prefs, *setup.ports, *m_list, *m_policy, clock);

    InitReportPrinter(m_printer);

    CreateLayout();
    CreateActions();
    CreateMenus();

    connect(m_policy.get(), &TSavingPolicy::captionChanged, this, &QWidget::setWindowTitle);
    connect(m_list.get(), &TEventList::bannerChanged, this, &TfmMain::ShowBanner);
    // The "*" and the counters follow the list at once rather than at the next refresh.
    connect(m_list.get(), &TEventList::modifiedChanged, this, &TfmMain::UpdateStatusBar);
    connect(m_policy.get(), &TSavingPolicy::appendFailingChanged, this, &TfmMain::UpdateLastPanel);
    connect(m_capture.get(), &TCaptureController::eventsArrived, this, &TfmMain::UpdateStatusBar);
    // Also reached when the worker ends by itself.
    connect(m_capture.get(), &TCaptureController::captureStateChanged, this, &TfmMain::UpdateGui);
    connect(m_delegate, &TEventListDelegate::labelEdited, this, &TfmMain::lvEventsListEdited);

    setAcceptDrops(false); // until the first refresh
    move(kDesignLeft, kDesignTop);
    resize(kDesignWidth, kDesignHeight);
}

TfmMain::~TfmMain()
{
    // The worker must be gone before the list and the policy it feeds.
    m_capture.reset();
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

    m_delegate = new TEventListDelegate(m_prefs, this);
    m_lvEventsList = new QTableView(central);
    m_lvEventsList->setObjectName(QStringLiteral("lvEventsList"));
    m_lvEventsList->setModel(m_list.get());
    QItemSelectionModel* own = m_lvEventsList->selectionModel();
    m_lvEventsList->setSelectionModel(m_list->selectionModel());
    delete own;
    m_lvEventsList->setItemDelegate(m_delegate);
    m_lvEventsList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_lvEventsList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_lvEventsList->setEditTriggers(QAbstractItemView::EditKeyPressed |
                                    QAbstractItemView::SelectedClicked);
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
    m_columns = MakeColumnWidths(cols);
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
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
        panel->setFixedWidth(kPanelWidths[size_t(i)]);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        bar->addWidget(panel);
        m_panels[size_t(i)] = panel;
    }
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
    m_lvEventsList->setEnabled(m_capture->PortAccessible());
    UpdateListColor();
}

void TfmMain::UpdateStatusBar()
{
    const bool running = m_capture->CaptureRunning();
    const QString texts[kPanelCount] = {
        m_list->Modified() ? QStringLiteral("*") : QString(),
        GetPortName(m_prefs.PortBaseAddressIndex),
        running ? ResStr::CaptureRunningStatus() : ResStr::CaptureStoppedStatus(),
        ResStr::CountersStatus(m_list->CaptureCount(), m_list->TotalCount()),
    };
    for (int i = 0; i < kPanelCount - 1; ++i)
        m_panels[size_t(i)]->setText(texts[i]);
    UpdateLastPanel();
}

void TfmMain::UpdateLastPanel()
{
    // Failing per-event appends come first: the user must know the events are not on
    // disk yet.
    QLabel* panel = m_panels[size_t(kPanelCount - 1)];
    const bool failing = m_policy->AppendFailing();
    const QString text = failing ? ResStr::AppendFailingStatus() : QStringLiteral("--------");
    panel->setText(text);
    panel->setToolTip(
        failing ? ResStr::AppendFailing(QFileInfo(m_policy->CurrentEventFile()).fileName())
                : QString());
    panel->setStyleSheet(failing ? QStringLiteral("QLabel { color: white; background: #C00000; }")
                                 : QString());
    panel->setFixedWidth(std::max(kPanelWidths[size_t(kPanelCount - 1)],
                                  panel->fontMetrics().horizontalAdvance(text) + 12));
}

void TfmMain::UpdateListColor()
{
    // Window background while the interface answers, button face after a failed test.
    const TColor c = m_capture->PortAccessible() ? clWindow : clBtnFace;
    QPalette pal = m_lvEventsList->palette();
    SetRole(pal, QPalette::Base, ToQColor(c, QGuiApplication::palette()));
    m_lvEventsList->setPalette(pal);
}

void TfmMain::ShowBanner()
{
    m_lblLastEvent->setText(m_list->BannerText());
    QPalette pal = m_lblLastEvent->palette();
    const QPalette sys = QGuiApplication::palette();
    SetRole(pal, QPalette::Window, ToQColor(m_list->BannerBGColor(), sys));
    SetRole(pal, QPalette::WindowText, ToQColor(m_list->BannerTextColor(), sys));
    m_lblLastEvent->setPalette(pal);
}

QWidget* TfmMain::modalParent()
{
    return this;
}

} // namespace evtrak
