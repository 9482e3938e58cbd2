// The windowed program: takes the Log folder, starts the port, shows the main window and
// runs the event loop.
#include "ui/widgets/uWindowProgram.h"

#include "acquisition/ktPorts.h"
#include "app/ktCommandLine.h"
#include "app/ktStopSignals.h"
#include "base/ktMisc.h"
#include "eventlog/uFolderLock.h"
#include "settings/ktIniFile.h"
#include "ui/widgets/frmMain.h"
#include "ui/widgets/ktIcons.h"
#include "ui/widgets/ktTranslations.h"
#include "ui/widgets/uFormsGeometry.h"
#include "ui/widgets/uMessagePrompt.h"
#include "ui/widgets/uSingleWindow.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QThread>
#include <cstdio>

Q_LOGGING_CATEGORY(lcRun, "evtrak.ui.main")

namespace evtrak {

namespace {

// A start that must not go on: said on stderr, and in a box where someone can see one.
void RefuseStart(const QString& text)
{
    PrintErr(QStringLiteral("evtrak : ") + text);
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return;
    TMessagePrompt(nullptr).ShowError(text.left(1).toUpper() + text.mid(1));
}

// Makes this window the owner of the Log folder before anything shows or touches it.
// Returns -1 when it is; otherwise the exit status: 0 when the window already open on
// the folder came to the front, 2 when a run without a window holds the folder or it
// cannot be locked.
int TakeLogFolder(const QString& logDir, TFolderLock& lock)
{
    // A window that has just taken the folder listens a moment later, and one busy with a
    // long save answers late: ask again for a while.
    const QDeadlineTimer deadline(5000);
    for (;;) {
        const TFolderLock::Result result = lock.Acquire(logDir, WindowLockMode());
        if (result == TFolderLock::Result::Acquired)
            return -1;
        const QString holderMode = lock.Holder().Mode;
        if (result == TFolderLock::Result::Failed ||
            (!holderMode.isEmpty() && holderMode != WindowLockMode())) {
            RefuseStart(lock.ErrorText());
            return 2;
        }
        if (AskWindowToFront(logDir, 2000)) {
            PrintErr(QStringLiteral("evtrak : une fenêtre d'Evtrak est déjà ouverte sur le "
                                    "dossier Log \"%1\" (pid %2) ; elle passe au premier plan.")
                         .arg(QDir::toNativeSeparators(QDir::cleanPath(logDir)),
                              QString::number(lock.Holder().Pid)));
            return 0;
        }
        if (deadline.hasExpired()) {
            RefuseStart(lock.ErrorText());
            return 2;
        }
        QThread::msleep(100);
    }
}

} // namespace

int RunMainWindow(const CommandLineOptions& options)
{
    InstallFrenchTranslations(*qApp);
    QApplication::setWindowIcon(AppIcon());

    const QString exeDir = QCoreApplication::applicationDirPath();
    PortStartOptions portOptions;
    portOptions.portDevice = options.portDevice;
    portOptions.demo = options.demo;
    // One owner per Log folder, decided before anything shows, the folder's files or the
    // port are touched: a second window hands over to the first and ends.
    TFolderLock folderLock;
    TfmMain* owner = nullptr;
    TSingleWindowServer singleWindow([&owner] {
        if (owner && owner->isVisible()) {
            // Minimized or not, maximized stays maximized.
            owner->setWindowState((owner->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
            owner->raise();
            owner->activateWindow();
        }
        // A question or a dialog open over the window stays on top of it.
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->raise();
            modal->activateWindow();
        }
        qCInfo(lcRun) << "brought to the front for a second start on the same Log folder";
        return QStringLiteral("ok");
    });
    {
        // The parport to claim is the one of the stored selection.
        const AppPaths paths = InitPaths(exeDir);
        const int refused = TakeLogFolder(paths.LogDir, folderLock);
        if (refused >= 0)
            return refused;
        singleWindow.Listen(paths.LogDir);
        portOptions.lptSelection =
            TIniFile(paths.PrefsFileName)
                .ReadInteger(QStringLiteral("UserPrefs"), QStringLiteral("PortBaseAddressIndex"),
                             portOptions.lptSelection);
    }
    std::unique_ptr<PortAccess> ports = StartPortDriver(portOptions);
    // Which access is used, or why there is none: for the user, like the headless mode.
    std::fprintf(stderr, "%s\n", ports->Description().toUtf8().constData());

    int result = 0;
    {
        MainWindowSetup setup;
        setup.exeDir = exeDir;
        setup.ports = ports.get();
        if (options.demo)
            setup.portMode = QStringLiteral("démo");
        else if (!options.portDevice.isEmpty())
            setup.portMode = QStringLiteral("fichier");
        TfmMain window(setup);
        owner = &window;
        TStopSignals signals;
        QObject::connect(&signals, &TStopSignals::stopRequested, &window, &TfmMain::CloseBySignal);
        // SIGUSR1: the capture's figures on stderr, as a headless run prints them.
        QObject::connect(&signals, &TStopSignals::figuresRequested, &window,
                         [&window] { PrintErr(window.CaptureFiguresText()); });
        window.FormCreate();
        window.CreatePrintOptions();
        LoadFormsSizeAndPos(window.paths().PrefsFileName);
        window.EndStartup();
        window.show();
        // A signal during the start-up has already closed everything.
        result = window.SignalExitStatus() >= 0 ? window.SignalExitStatus() : QApplication::exec();
        owner = nullptr;
    }
    RemovePortDriver(ports);
    return result;
}

} // namespace evtrak
