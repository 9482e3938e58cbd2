#pragma once
// The main window: the banner of the last event, the event list, the toolbar, the menus,
// the status bar, and every command of the program as one QAction each.

#include "eventlog/uDateTexts.h"
#include "settings/uUserPrefs.h"
#include "ui/ktPaths.h"

#include <QMainWindow>
#include <QPrinter>
#include <QStringList>
#include <array>
#include <memory>
#include <span>
#include <vector>

class QHeaderView;
class QLabel;
class QMenu;
class QTableView;

namespace evtrak {

class PortAccess;
class TCaptureController;
class TConf;
class TEventList;
class TEventListDelegate;
class TJournal;
struct JournalEvent;
class TSavingPolicy;
class TfmPrintOptions;
class WindowPrompt;
struct CommandLineOptions;

// What the window needs from outside; tests replace any of it.
struct MainWindowSetup
{
    QString exeDir;                 // the executable's folder (InitPaths looks there)
    PortAccess* ports = nullptr;    // the port access layer, not owned (required)
    WindowPrompt* prompt = nullptr; // nullptr: message boxes and file dialogs
    const Clock* clock = nullptr;   // nullptr: the system clock
    int pauseMs = 200;              // pause of "Réinitialiser système" and "Test système"
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

    // The start-up of the window: paths, settings read and applied (possibly starting
    // the capture), the day's file, the interface initialised and tested, the refresh.
    void FormCreate();
    // The print-options dialog, created hidden; lives as long as the window.
    TfmPrintOptions* CreatePrintOptions();
    // SIGTERM, SIGHUP or SIGINT: closes in order without asking anything (nobody is
    // there to answer): stops the capture, saves unsaved rows to the current file (the
    // day's file for an untitled list), writes the settings and leaves the event loop
    // with 0, or 1 when the save failed.
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
    QPrinter& printer() { return m_printer; }
    TfmPrintOptions* printOptions() const { return m_printOptions; }

    TUserPrefs& prefs() { return m_prefs; }
    TEventList& eventList() { return *m_list; }
    TSavingPolicy& savingPolicy() { return *m_policy; }
    TCaptureController& capture() { return *m_capture; }
    TConf& conf() { return *m_conf; }
    const AppPaths& paths() const { return m_paths; }
    QLabel* banner() const { return m_lblLastEvent; }
    QTableView* listView() const { return m_lvEventsList; }
    TEventListDelegate* listDelegate() const { return m_delegate; }
    QString statusText(int panel) const;
    // The menu entry of the configuration "Sauver": "Sauver (<file>)".
    QAction* confSaveMenuEntry() const { return m_confSaveEntry; }

    // The handling of files dropped on the window (also used by drop events).
    void BUDragDrop1Drop(const QStringList& files);
    // The rule table of UpdateActions.
    static CaptureRule ActionRule(const QString& actionName);

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Layout, actions and menus (frmMainLayout.cpp, frmMainActions.cpp).
    void CreateLayout();
    void CreateActions();
    void CreateMenus();
    void ShowBanner();
    QWidget* modalParent();

    // Closing (frmMainStartup.cpp).
    bool FormCloseQuery();
    bool FormClose();
    void InitPaths();
    // Start-up: the events a journal of an interrupted session holds that the day's
    // file lacks are offered back (Oui: into the list; Non: the journal is set aside).
    void RecoverJournal(std::vector<JournalEvent> found);
    // Waits ms milliseconds with repaints going on but no user input taken.
    void Pause(int ms);

    // Handlers, one per action.
    void ActFileNewExecute();
    void ActFileOpenExecute();
    void ActFileSaveExecute();
    void ActFileSaveAsExecute();
    void ActPreviewExecute();
    void ActPrintExecute();
    void ActExportPdfExecute();
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
    void lvEventsListEdited(int row);
    void ShowStartResult(int result);

    // Column widths of the list, read and written with the settings.
    class ColumnWidths;
    static std::unique_ptr<ColumnWidthStore> MakeColumnWidths(QHeaderView* header);
    // One row of the action table (frmMainActions.cpp).
    struct ActionDef;
    static std::span<const ActionDef> ActionDefs();

    MainWindowSetup m_setup;
    WindowPrompt* m_prompt = nullptr;
    std::unique_ptr<WindowPrompt> m_ownPrompt;
    TUserPrefs m_prefs;
    AppPaths m_paths;
    bool m_appStarting = true;
    std::unique_ptr<TEventList> m_list;
    std::unique_ptr<TSavingPolicy> m_policy;
    std::unique_ptr<TConf> m_conf;
    std::unique_ptr<TJournal> m_journal; // outlives the capture, which writes it
    std::unique_ptr<TCaptureController> m_capture;
    std::unique_ptr<ColumnWidthStore> m_columns;
    QPrinter m_printer;
    TfmPrintOptions* m_printOptions = nullptr;

    QLabel* m_lblLastEvent = nullptr;
    QTableView* m_lvEventsList = nullptr;
    TEventListDelegate* m_delegate = nullptr;
    std::array<QLabel*, kPanelCount> m_panels{};
    QMenu* m_fileMenu = nullptr;
    QMenu* m_confMenu = nullptr;
    QMenu* m_popupMenu = nullptr;
    QAction* m_confSaveEntry = nullptr;
    bool m_pausing = false;
    int m_signalExit = -1;
};

// The windowed program: creates the window, runs the start-up and the event loop.
// A QApplication exists already.
int RunMainWindow(const CommandLineOptions& options);

} // namespace evtrak
