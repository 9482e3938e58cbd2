#pragma once
// The main window: the banner of the last event, the event list, the toolbar, the menus,
// the status bar, and every command of the program as one QAction each.

#include "app/ktPaths.h"
#include "eventlog/uDateTexts.h"
#include "settings/uUserPrefs.h"

#include <QItemSelectionModel>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <vector>

class QHeaderView;
class QLabel;
class QDialog;
class QMenu;
class QPrinter;
class QShortcut;
class QTableView;
class QTimer;

namespace evtrak {

class TCaptureController;
class TCaptureQualityView;
class TConf;
class TEventList;
class TEventListDelegate;
class TEventView;
class TFilterBar;
class TElidedLabel;
struct EventFilter;
struct ReportRows;
class TSavingPolicy;
class TSession;
class TfmPrintOptions;
class TfmStations;
class TLiveLines;
class TMqttStation;
class WindowPrompt;

// What the window needs from outside; tests replace any of it.
struct MainWindowSetup
{
    // The session the window is a front-end of, not owned (required): its settings read
    // and its port set (TSession::ReadSettings, then StartPort or UsePort).
    TSession* session = nullptr;
    WindowPrompt* prompt = nullptr; // nullptr: message boxes and file dialogs
    int pauseMs = 200;              // pause of "Réinitialiser système" and "Test système"
    QString portMode;               // "démo", "fichier" or empty: shown after the port name
};

// How UpdateActions treats an action.
enum class CaptureRule
{
    Unchanged,         // help, readme, about, copy, reset
    OffWhileCapturing, // every command that changes settings, files or the list
    OnlyWhileCapturing // "Arrêter"
};

class TfmMain : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int kPanelCount = 5;

    explicit TfmMain(const MainWindowSetup& setup, QWidget* parent = nullptr);
    ~TfmMain() override;

    // The start-up of the window, after the session read the settings and took the Log
    // folder and the port: the day's file, the journal's recovery (asked), the settings
    // applied, the capture when it starts with the program, the interface initialised
    // and tested, the refresh.
    void FormCreate();
    // The print-options dialog, created hidden; lives as long as the window.
    TfmPrintOptions* CreatePrintOptions();
    // SIGTERM, SIGHUP or SIGINT: closes in order without asking anything and without a
    // box (nobody is there to answer): the session's end without questions (capture
    // stopped, unsaved rows to the current file or the day's file for an untitled list),
    // the settings written, and the event loop left with 0, or 1 when the save failed.
    void CloseBySignal();
    // The status CloseBySignal left with; -1 while it has not run.
    int SignalExitStatus() const { return m_signalExit; }
    // Ends the start-up: from now on applying settings never starts the capture.
    void EndStartup() { m_appStarting = false; }
    bool AppStarting() const { return m_appStarting; }

    // Makes the window follow the live settings: durations, auto-start (start-up
    // only), grid lines, column captions, title, colours, menu style, log-on entry.
    void ApplyUserPrefs();
    void UpdateGui();
    void UpdateActions();
    void UpdateStatusBar();
    // The status bar's last panel: "--------", or in red when per-event appends fail.
    void UpdateLastPanel();
    void UpdateListColor();

    // For the printing and export commands added by the report unit.
    QMenu* fileMenu() const { return m_fileMenu; }
    QMenu* popupMenu() const { return m_popupMenu; }
    QMenu* confMenu() const { return m_confMenu; }
    QAction* action(const QString& objectName) const;
    // Made at the first print, preview, page setup or PDF export: creating a printer asks
    // the print server for its printers, which must never hold up the start-up.
    QPrinter& printer();
    bool hasPrinter() const { return m_printer != nullptr; }
    // The name print jobs get: "Evtrak - <file name>".
    QString PrintJobName() const;
    TfmPrintOptions* printOptions() const { return m_printOptions; }

    TSession& session() { return *m_session; }
    TUserPrefs& prefs() { return m_prefs; }
    TEventList& eventList() { return *m_list; }
    TSavingPolicy& savingPolicy() { return *m_policy; }
    TCaptureController& capture() { return *m_capture; }
    TConf& conf() { return *m_conf; }
    TMqttStation& mqtt() { return *m_mqtt; }
    const AppPaths& paths() const { return m_paths; }
    QLabel* banner() const { return m_lblLastEvent; }
    // The banner: the last event's label in its input's colours, or a step of the
    // capture commands; "---" before any.
    void SetBanner(const QString& text, TColor textColor, TColor bgColor);
    QTableView* listView() const { return m_lvEventsList; }
    TEventListDelegate* listDelegate() const { return m_delegate; }
    // What the list view shows: filter, selection, the newest rows.
    TEventView& eventView() const { return *m_view; }
    QString statusText(int panel) const;
    TLiveLines* liveLines() const { return m_liveLines; }
    // The live lines, the rate, the backlog and the acquisition journal.
    TCaptureQualityView& captureQuality() const { return *m_quality; }
    // The Stations window while it is open.
    TfmStations* stationsWindow() const;
    // Opens an event file of the Stations window in the list, as "Ouvrir" does.
    void OpenStationFile(const QString& file);
    // The menu entry of the configuration "Sauver": "Sauver (<file>)".
    QAction* confSaveMenuEntry() const { return m_confSaveEntry; }

    // The search bar and what it shows (frmMainFilter.cpp).
    TFilterBar* filterBar() const { return m_filterBar; }
    // True while the list shows only the rows a filter lets through.
    bool FilterActive() const;
    // The list rows shown, top to bottom (every row without a filter).
    std::vector<int> ShownRows() const;
    // Shows the bar with filter's values set (tests) and applies them.
    void SetFilter(const EventFilter& filter);
    void CloseFilter();
    // The list rows selected, top to bottom.
    std::vector<int> SelectedRows() const;
    // Selects the shown event nearest to when and scrolls it into view; false when
    // no shown row has a date.
    bool GoToDateTime(const QDateTime& when);
    // The statistics of the shown rows as the dialog shows them.
    QString StatisticsCaption() const;

    // The handling of files dropped on the window (also used by drop events).
    void BUDragDrop1Drop(const QStringList& files);
    // The rule table of UpdateActions.
    static CaptureRule ActionRule(const QString& actionName);

Q_SIGNALS:
    void bannerChanged(const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Layout, actions and menus (frmMain.cpp, frmMainActions.cpp).
    void CreateLayout();
    void CreateActions();
    void CreateMenus();
    QWidget* modalParent();

    // Closing (frmMainStartup.cpp).
    bool FormCloseQuery();
    bool FormClose();
    void InitPaths();
    // The steps of "Réinitialiser système" and "Test système": begin runs at once (or
    // when the steps queued before it are done), end after the set-up pause, from the
    // event loop, never nested inside another command. A pause of 0 runs both at once.
    void QueueStep(std::function<void()> begin, std::function<void()> end, bool first = false);
    void RunSteps();
    void QueueTestStep(bool first);
    // A command arriving while steps run waits for them (as keys and clicks did).
    void RunCommand(void (TfmMain::*handler)());

    // Handlers, one per action.
    void ActFileNewExecute();
    void ActFileOpenExecute();
    void ActFileRecoverJournalExecute();
    // Says in the status bar which file an export wrote (nothing when path is empty).
    void ShowExportWritten(const QString& path);
    // A session's notice (a torn line cut off, events recovered, the journal that cannot
    // be opened) as a status bar message: headless runs print the same lines.
    void ShowNotice(const QString& text);
    void ActFileSaveExecute();
    void ActFileSaveAsExecute();
    void ActStationsExecute();
    void ActPreviewExecute();
    void ActPrintExecute();
    void ActExportPdfExecute();
    void ActExportCsvExecute();
    void ActExportVcdExecute();
    void ActPrintConfExecute();
    void ActOptionsExecute();
    void ActAppCloseExecute();
    void ActConfLoadExecute();
    void ActConfSaveExecute();
    void ActConfSaveAsExecute();
    void ActLogSelectAllExecute();
    void ActLogInvertSelectionExecute();
    void ActLogClearSelectionExecute();
    void ActLogClearAllExecute();
    void ActLogRefreshExecute();
    void ActLogCopyExecute();
    void ActCaptureStartExecute();
    void ActCaptureStopExecute();
    void ActCaptureTestSystemExecute();
    void ActCaptureInitSystemExecute();
    void ActHelpIndexExecute();
    void ActAppReadmeExecute();
    void ActAboutExecute();
    void ActAppResetAllExecute();
    void ActCaptureShowLinesExecute();
    void ActCaptureJournalExecute();
    void ActLogFindExecute();
    void ActLogGoToExecute();
    void ActLogStatisticsExecute();
    void ApplyFilter();
    void UpdateFilterCount();
    // The report's rows while a filter is set; nullptr without one.
    std::unique_ptr<ReportRows> ShownReportRows() const;
    void lvEventsListEdited(int row);
    void ShowStartResult(int result);

    // The acquisition's quality (frmMainQuality.cpp).
    void CreateQualityParts();
    void ApplyQualityPrefs();

    // Column widths of the list, read and written with the settings.
    class ColumnWidths;
    static std::unique_ptr<ColumnWidthStore> MakeColumnWidths(QHeaderView* header, int* labelWidth,
                                                              std::function<void()> fit);
    void FitLabelColumn();
    // The port panel's text for port (the chosen port when -1).
    QString PortPanelText(int port = -1) const;
    // The size of the window at its first start.
    QSize FirstSize() const;
    // One row of the action table (frmMainActions.cpp).
    struct ActionDef;
    static std::span<const ActionDef> ActionDefs();

    MainWindowSetup m_setup;
    WindowPrompt* m_prompt = nullptr;
    std::unique_ptr<WindowPrompt> m_ownPrompt;
    // What a capture needs, owned by the session (which outlives the window).
    TSession* m_session;
    TUserPrefs& m_prefs;
    const AppPaths& m_paths;
    TEventList* m_list;
    TSavingPolicy* m_policy;
    TCaptureController* m_capture;
    TMqttStation* m_mqtt;
    bool m_appStarting = true;
    std::unique_ptr<TConf> m_conf;
    std::unique_ptr<ColumnWidthStore> m_columns;
    std::unique_ptr<QPrinter> m_printer;
    TfmPrintOptions* m_printOptions = nullptr;

    struct Banner
    {
        QString Text = QStringLiteral("---");
        TColor TextColor = clBlack;
        TColor BGColor = clWindow;
    };
    Banner m_banner;
    QLabel* m_lblLastEvent = nullptr;
    TLiveLines* m_liveLines = nullptr;
    TCaptureQualityView* m_quality = nullptr;
    QPointer<QDialog> m_stationsWindow; // a TfmStations
    QTableView* m_lvEventsList = nullptr;
    TEventListDelegate* m_delegate = nullptr;
    std::array<TElidedLabel*, kPanelCount> m_panels{};
    QLabel* m_mqttPanel = nullptr; // shown while events are published over MQTT
    QMenu* m_fileMenu = nullptr;
    QMenu* m_confMenu = nullptr;
    QMenu* m_popupMenu = nullptr;
    QAction* m_confSaveEntry = nullptr;
    struct Step
    {
        std::function<void()> begin, end;
    };
    std::deque<Step> m_steps;
    bool m_stepWaiting = false; // a step's pause is running
    bool m_closeAfterSteps = false;
    int m_labelColumnWidth = 0;    // the user's width of the label column
    bool m_fittingColumns = false; // FitLabelColumn is resizing the label column
    TFilterBar* m_filterBar = nullptr;
    TEventView* m_view = nullptr;
    bool m_filterConnected = false; // the search bar's signals reach the window
    TElidedLabel* m_filterPanel = nullptr;
    QShortcut* m_quitWhileCapturing = nullptr; // Ctrl+Q while "Quitter" is off
    int m_signalExit = -1;
    // Notices said before the window showed, for its status bar once it shows.
    QString m_pendingNotice;
};

// A caption without its mnemonic marks ("Sauver so&us..." -> "Sauver sous...").
QString PlainCaption(const QString& caption);

} // namespace evtrak
