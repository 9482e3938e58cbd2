// The main window's commands: the action table, the menus, the toolbar, the pop-up menu
// and the handlers of the list and help commands.
#include "ui/widgets/frmMain.h"

#include "acquisition/uCaptureControl.h"
#include "base/uResStr.h"
#include "eventlog/uLog.h"
#include "eventlog/uSavingPolicy.h"
#include "settings/uConf.h"
#include "ui/widgets/frmAbout.h"
#include "ui/widgets/ktIcons.h"
#include "ui/widgets/ktShell.h"
#include "ui/widgets/uEventView.h"
#include "ui/widgets/uMessagePrompt.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenuBar>
#include <QShortcut>
#include <QTableView>
#include <QToolBar>
#include <algorithm>

namespace evtrak {

QString PlainCaption(const QString& caption)
{
    QString plain;
    plain.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&' && i + 1 < caption.size())
            ++i; // "&x" shows x underlined, "&&" one "&"
        plain += caption[i];
    }
    return plain;
}

struct TfmMain::ActionDef
{
    const char* name;
    const char* caption;  // UTF-8, "&" before the mnemonic letter
    const char* hint;     // nullptr: the caption
    const char* shortcut; // portable text, nullptr: none
    const char* icon;     // theme name, nullptr: none
    void (TfmMain::*handler)();
    CaptureRule rule;
};

std::span<const TfmMain::ActionDef> TfmMain::ActionDefs()
{
    using R = CaptureRule;
    using M = TfmMain;
    static const ActionDef defs[] = {
        {"ActFileNew", "&Nouveau", nullptr, "Ctrl+N", "document-new", &M::ActFileNewExecute,
         R::OffWhileCapturing},
        {"ActFileOpen", "&Ouvrir...", nullptr, "Ctrl+O", "document-open", &M::ActFileOpenExecute,
         R::OffWhileCapturing},
        {"ActFileSave", "&Sauver", nullptr, "Ctrl+S", "document-save", &M::ActFileSaveExecute,
         R::OffWhileCapturing},
        {"ActFileSaveAs", "Sauver so&us...", nullptr, nullptr, "document-save-as",
         &M::ActFileSaveAsExecute, R::OffWhileCapturing},
        {"ActFileRecoverJournal", "&Récupérer un journal...",
         "Reprendre les évenements d'un journal de reprise mis de côté", nullptr, "document-revert",
         &M::ActFileRecoverJournalExecute, R::OffWhileCapturing},
        {"ActPreview", "Pré&visualiser", nullptr, "Ctrl+P", "document-print-preview",
         &M::ActPreviewExecute, R::OffWhileCapturing},
        {"ActPrint", "&Imprimer", nullptr, "Ctrl+I", "document-print", &M::ActPrintExecute,
         R::OffWhileCapturing},
        {"ActExportPdf", "Exporter en P&DF...", nullptr, nullptr, "document-export",
         &M::ActExportPdfExecute, R::OffWhileCapturing},
        {"ActExportCsv", "&Exporter en CSV...", "Exporter la liste pour un tableur", nullptr,
         "document-export", &M::ActExportCsvExecute, R::OffWhileCapturing},
        {"ActExportVcd", "E&xporter en VCD...", "Exporter la liste en chronogrammes (VCD)", nullptr,
         "document-export", &M::ActExportVcdExecute, R::OffWhileCapturing},
        {"ActStations", "St&ations...", "Les postes du site et leurs derniers évenements", nullptr,
         nullptr, &M::ActStationsExecute, R::Unchanged},
        {"ActPrintConf", "&Configurer imprimante...", nullptr, nullptr, "document-page-setup",
         &M::ActPrintConfExecute, R::OffWhileCapturing},
        {"ActOptions", "Op&tions...", nullptr, nullptr, "preferences-system", &M::ActOptionsExecute,
         R::OffWhileCapturing},
        {"ActAppClose", "&Quitter", nullptr, "Ctrl+Q", "application-exit", &M::ActAppCloseExecute,
         R::OffWhileCapturing},
        {"ActConfLoad", "&Charger...", nullptr, nullptr, "document-open", &M::ActConfLoadExecute,
         R::OffWhileCapturing},
        {"ActConfSave", "&Sauver", nullptr, nullptr, "document-save", &M::ActConfSaveExecute,
         R::OffWhileCapturing},
        {"ActConfSaveAs", "Sauver so&us...", nullptr, nullptr, "document-save-as",
         &M::ActConfSaveAsExecute, R::OffWhileCapturing},
        {"ActLogSelectAll", "&Sélectionner tout", nullptr, nullptr, "edit-select-all",
         &M::ActLogSelectAllExecute, R::OffWhileCapturing},
        {"ActLogInvertSelection", "&Inverser sélection", nullptr, nullptr, nullptr,
         &M::ActLogInvertSelectionExecute, R::OffWhileCapturing},
        {"ActLogClearSelection", "&Effacer sélection", nullptr, "Del", "edit-delete",
         &M::ActLogClearSelectionExecute, R::OffWhileCapturing},
        {"ActLogClearAll", "Effacer t&out", nullptr, "Ctrl+Del", "edit-clear",
         &M::ActLogClearAllExecute, R::OffWhileCapturing},
        {"ActLogRefresh", "Ra&ffraichir", nullptr, nullptr, "view-refresh",
         &M::ActLogRefreshExecute, R::OffWhileCapturing},
        {"ActLogCopy", "&Copier", nullptr, "Ctrl+C", "edit-copy", &M::ActLogCopyExecute,
         R::Unchanged},
        {"ActCaptureStart", "&Démarrer", "Démarrer capture", "F11", "media-playback-start",
         &M::ActCaptureStartExecute, R::OffWhileCapturing},
        {"ActCaptureStop", "&Arrêter", "Arrêter capture", "F12", "media-playback-stop",
         &M::ActCaptureStopExecute, R::OnlyWhileCapturing},
        {"ActCaptureTestSystem", "&Test système", nullptr, nullptr, "system-run",
         &M::ActCaptureTestSystemExecute, R::OffWhileCapturing},
        {"ActCaptureInitSystem", "&Réinitialiser système", nullptr, nullptr, nullptr,
         &M::ActCaptureInitSystemExecute, R::OffWhileCapturing},
        {"ActCaptureShowLines", "Afficher l'état des &entrées", nullptr, nullptr, nullptr,
         &M::ActCaptureShowLinesExecute, R::Unchanged},
        {"ActCaptureJournal", "&Journal de l'acquisition", nullptr, nullptr, nullptr,
         &M::ActCaptureJournalExecute, R::Unchanged},
        {"ActHelpIndex", "&Index de l'aide", nullptr, nullptr, "help-contents",
         &M::ActHelpIndexExecute, R::Unchanged},
        {"ActAppReadme", "&Lisez-moi (fichier A_Lire.txt)", "", nullptr, nullptr,
         &M::ActAppReadmeExecute, R::Unchanged},
        {"ActAbout", "A &propos...", nullptr, nullptr, "help-about", &M::ActAboutExecute,
         R::Unchanged},
        {"ActAppResetAll", "Reset", nullptr, nullptr, nullptr, &M::ActAppResetAllExecute,
         R::Unchanged},
        {"ActLogFind", "&Rechercher...", "Filtrer la liste", "Ctrl+F", "edit-find",
         &M::ActLogFindExecute, R::Unchanged},
        {"ActLogGoTo", "&Aller à la date...", nullptr, "Ctrl+G", "go-jump", &M::ActLogGoToExecute,
         R::Unchanged},
        {"ActLogStatistics", "Statisti&ques...", nullptr, nullptr, nullptr,
         &M::ActLogStatisticsExecute, R::Unchanged},
    };
    return defs;
}

CaptureRule TfmMain::ActionRule(const QString& actionName)
{
    for (const ActionDef& d : ActionDefs())
        if (actionName == QLatin1String(d.name))
            return d.rule;
    return CaptureRule::Unchanged;
}

void TfmMain::CreateActions()
{
    for (const ActionDef& d : ActionDefs()) {
        auto* a = new QAction(QString::fromUtf8(d.caption), this);
        a->setObjectName(QLatin1String(d.name));
        const QString hint = d.hint ? QString::fromUtf8(d.hint) : PlainCaption(a->text());
        a->setToolTip(hint);
        a->setStatusTip(hint);
        if (d.shortcut)
            a->setShortcut(QKeySequence(QString::fromLatin1(d.shortcut)));
        if (d.icon)
            a->setIcon(ActionIcon(d.icon));
        connect(a, &QAction::triggered, this, [this, h = d.handler] { RunCommand(h); });
        // Every shortcut works wherever the focus is in the window, also for actions
        // that have no menu entry.
        addAction(a);
    }
}

void TfmMain::CreateMenus()
{
    auto add = [this](QWidget* menu, std::initializer_list<const char*> names) {
        for (const char* n : names) {
            if (qstrcmp(n, "-") == 0) {
                if (auto* m = qobject_cast<QMenu*>(menu))
                    m->addSeparator();
                else if (auto* t = qobject_cast<QToolBar*>(menu))
                    t->addSeparator();
            } else if (qstrcmp(n, "ConfSaveEntry") == 0) {
                menu->addAction(m_confSaveEntry);
            } else {
                menu->addAction(action(QLatin1String(n)));
            }
        }
    };

    // The configuration "Sauver" entry names the configuration file; the action itself
    // keeps its caption, so the entry is an action of its own that follows it.
    QAction* confSave = action(QStringLiteral("ActConfSave"));
    m_confSaveEntry = new QAction(u'&' + ResStr::ConfSaveCaption(ResStr::UntitledName()), this);
    m_confSaveEntry->setObjectName(QStringLiteral("ConfSaveMenuEntry"));
    m_confSaveEntry->setIcon(confSave->icon());
    m_confSaveEntry->setToolTip(confSave->toolTip());
    connect(m_confSaveEntry, &QAction::triggered, confSave, &QAction::trigger);
    connect(confSave, &QAction::enabledChanged, m_confSaveEntry, &QAction::setEnabled);
    // The file name may hold a "&": doubled, it shows as itself.
    connect(m_conf.get(), &TConf::SaveMenuCaptionChanged, m_confSaveEntry,
            [this](const QString& caption) {
                m_confSaveEntry->setText(
                    u'&' + QString(caption).replace(QStringLiteral("&"), QStringLiteral("&&")));
            });

    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    m_fileMenu = bar->addMenu(QStringLiteral("&Fichier"));
    m_fileMenu->setObjectName(QStringLiteral("mnuFile"));
    add(m_fileMenu,
        {"ActFileNew", "ActFileOpen", "ActFileSave", "ActFileSaveAs", "ActFileRecoverJournal", "-",
         "ActPreview", "ActPrint", "ActExportPdf", "ActExportCsv", "ActExportVcd", "ActPrintConf",
         "-", "ActStations", "-", "ActOptions", "-", "ActAppClose"});
    m_confMenu = bar->addMenu(QStringLiteral("&Configuration"));
    m_confMenu->setObjectName(QStringLiteral("mnuConf"));
    add(m_confMenu, {"ActConfLoad", "ConfSaveEntry", "ActConfSaveAs"});
    QMenu* edit = bar->addMenu(QStringLiteral("&Edition"));
    edit->setObjectName(QStringLiteral("mnuEdit"));
    add(edit, {"ActLogCopy", "-", "ActLogFind", "ActLogGoTo", "ActLogStatistics", "-",
               "ActLogSelectAll", "ActLogInvertSelection", "-", "ActLogClearSelection",
               "ActLogClearAll", "-", "ActLogRefresh"});
    QMenu* capture = bar->addMenu(QStringLiteral("Ca&pture"));
    capture->setObjectName(QStringLiteral("mnuCapture"));
    add(capture, {"ActCaptureStart", "ActCaptureStop", "-", "ActCaptureTestSystem",
                  "ActCaptureInitSystem", "-", "ActCaptureShowLines", "ActCaptureJournal"});
    QMenu* help = bar->addMenu(QStringLiteral("&Aide"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    add(help, {"ActHelpIndex", "-", "ActAppReadme", "-", "ActAbout"});

    m_popupMenu = new QMenu(this);
    m_popupMenu->setObjectName(QStringLiteral("PopupMenu1"));
    add(m_popupMenu, {"ActFileOpen", "ActFileSave", "ActFileSaveAs", "-", "ActPreview", "ActPrint",
                      "ActExportPdf", "ActExportCsv", "ActExportVcd", "-", "ActLogCopy",
                      "ActLogFind", "ActLogStatistics", "ActLogRefresh", "-", "ActOptions"});

    // F10 opens the first menu, as Alt does with a letter.
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this,
            [this] { menuBar()->setActiveAction(m_fileMenu->menuAction()); });

    // F2 edits the label of the current row from any of its columns.
    auto* f2 = new QShortcut(QKeySequence(Qt::Key_F2), m_lvEventsList, nullptr, nullptr,
                             Qt::WidgetShortcut);
    f2->setObjectName(QStringLiteral("EditLabelKey"));
    connect(f2, &QShortcut::activated, this, [this] {
        const QModelIndex current = m_lvEventsList->currentIndex();
        if (!current.isValid())
            return;
        const QModelIndex label = current.siblingAtColumn(TEventList::ColLabel);
        m_lvEventsList->selectionModel()->setCurrentIndex(label, QItemSelectionModel::NoUpdate);
        m_lvEventsList->edit(label);
    });
    // "Quitter" is off during a capture, its Ctrl+Q with it; the key then does what
    // closing the window does: it asks, stops the capture and saves.
    m_quitWhileCapturing = new QShortcut(QKeySequence(QStringLiteral("Ctrl+Q")), this);
    m_quitWhileCapturing->setObjectName(QStringLiteral("QuitWhileCapturingKey"));
    m_quitWhileCapturing->setEnabled(false);
    connect(m_quitWhileCapturing, &QShortcut::activated, this, &QWidget::close);

    QToolBar* tools = addToolBar(QStringLiteral("Outils"));
    tools->setObjectName(QStringLiteral("ToolBar1"));
    tools->setMovable(false);
    tools->setFloatable(false);
    tools->setIconSize(QSize(16, 16));
    tools->setFixedHeight(29);
    tools->toggleViewAction()->setVisible(false);
    add(tools, {"ActFileNew", "ActFileOpen", "ActFileSave", "-", "ActPreview", "ActPrint", "-",
                "ActCaptureStart", "ActCaptureStop", "-", "ActOptions", "-", "ActHelpIndex", "-",
                "ActAppClose"});
}

void TfmMain::UpdateActions()
{
    const bool capturing = m_capture->CaptureRunning();
    setAcceptDrops(!capturing);
    m_quitWhileCapturing->setEnabled(capturing);
    for (const ActionDef& d : ActionDefs()) {
        QAction* a = action(QLatin1String(d.name));
        switch (d.rule) {
        case CaptureRule::OffWhileCapturing:
            a->setEnabled(!capturing);
            break;
        case CaptureRule::OnlyWhileCapturing:
            a->setEnabled(capturing);
            break;
        case CaptureRule::Unchanged:
            break;
        }
    }
}

void TfmMain::contextMenuEvent(QContextMenuEvent* event)
{
    m_popupMenu->exec(event->globalPos());
}

// ---- List commands ----

void TfmMain::ActLogSelectAllExecute()
{
    if (!m_list->RequireEvents())
        return m_prompt->Inform(ResStr::NoEvents());
    // Only the rows shown: hidden rows must not be deleted or copied unseen.
    m_view->SelectShown(QItemSelectionModel::Select);
}

void TfmMain::ActLogInvertSelectionExecute()
{
    if (!m_list->RequireEvents())
        return m_prompt->Inform(ResStr::NoEvents());
    m_view->SelectShown(QItemSelectionModel::Toggle);
}

void TfmMain::ActLogClearSelectionExecute()
{
    if (!m_list->RequireEvents())
        return m_prompt->Inform(ResStr::NoEvents());
    if (m_prompt->AskYesNo(ResStr::AskClearSelection()) == Answer::Yes)
        m_list->DeleteRows(SelectedRows());
}

void TfmMain::ActLogClearAllExecute()
{
    if (!m_list->RequireEvents())
        return m_prompt->Inform(ResStr::NoEvents());
    if (m_prompt->AskYesNo(ResStr::AskClearAll()) == Answer::Yes)
        m_list->ClearEvents();
}

void TfmMain::ActLogRefreshExecute()
{
    m_lvEventsList->viewport()->update();
}

void TfmMain::ActLogCopyExecute()
{
    QStringList lines;
    for (int row : SelectedRows())
        lines << m_list->fileLine(row);
    if (lines.isEmpty())
        return;
    QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void TfmMain::lvEventsListEdited(int /*row*/)
{
    m_list->SetModified(true);
}

void TfmMain::ActAppResetAllExecute()
{
    UpdateGui();
}

// ---- Help ----

void TfmMain::ActHelpIndexExecute()
{
    if (!ShellOpen(m_paths.HelpFile))
        m_prompt->ShowError(ShellOpenFailedText(m_paths.HelpFile));
}

void TfmMain::ActAppReadmeExecute()
{
    if (!ShellOpen(m_paths.ReadmeFile))
        m_prompt->ShowError(ShellOpenFailedText(m_paths.ReadmeFile));
}

void TfmMain::ActAboutExecute()
{
    TfmAbout about(modalParent());
    about.exec();
}

} // namespace evtrak
