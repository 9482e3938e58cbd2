// The windowed program: a session (settings, the Log folder, the port) with the main
// window as its front-end, and the event loop.
#include "ui/widgets/uWindowProgram.h"

#include "acquisition/ktPorts.h"
#include "app/ktCommandLine.h"
#include "app/uSession.h"
#include "base/ktMisc.h"
#include "eventlog/uFolderLock.h"
#include "ui/widgets/frmMain.h"
#include "ui/widgets/ktIcons.h"
#include "ui/widgets/ktTranslations.h"
#include "ui/widgets/uCaptureQualityView.h"
#include "ui/widgets/uFormsGeometry.h"
#include "ui/widgets/uMessagePrompt.h"
#include "ui/widgets/uSingleWindow.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QThread>

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
int TakeLogFolder(TSession& session)
{
    // A window that has just taken the folder listens a moment later, and one busy with a
    // long save answers late: ask again for a while.
    const QDeadlineTimer deadline(5000);
    for (;;) {
        const TFolderLock::Result result = session.TakeLogFolder(WindowLockMode());
        if (result == TFolderLock::Result::Acquired)
            return -1;
        const TFolderLock& lock = session.folderLock();
        const QString holderMode = lock.Holder().Mode;
        if (result == TFolderLock::Result::Failed ||
            (!holderMode.isEmpty() && holderMode != WindowLockMode())) {
            RefuseStart(lock.ErrorText());
            return 2;
        }
        const QString logDir = session.paths().LogDir;
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

    // Boxes without a parent until the window exists and gives its own.
    TMessagePrompt boxes(nullptr);
    TSession session(SessionSetup{QCoreApplication::applicationDirPath(), nullptr, &boxes});
    session.InstallStopSignals();
    QObject::connect(&session, &TSession::notice,
                     [](const QString& text) { qCInfo(lcRun).noquote() << text; });
    session.ReadSettings();
    // One owner per Log folder, decided before anything shows, the folder's files or the
    // port are touched: a second window hands over to the first and ends.
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
    if (const int refused = TakeLogFolder(session); refused >= 0)
        return refused;
    singleWindow.Listen(session.paths().LogDir);
    PortStartOptions portOptions;
    portOptions.portDevice = options.portDevice;
    portOptions.demo = options.demo;
    session.StartPort(portOptions);

    MainWindowSetup setup;
    setup.session = &session;
    if (options.demo)
        setup.portMode = QStringLiteral("démo");
    else if (!options.portDevice.isEmpty())
        setup.portMode = QStringLiteral("fichier");
    TfmMain window(setup);
    owner = &window;
    QObject::connect(&session, &TSession::stopRequested, &window, &TfmMain::CloseBySignal);
    // SIGUSR1: the capture's figures on stderr, as a headless run prints them.
    QObject::connect(&session, &TSession::figuresRequested, &window,
                     [&window] { PrintErr(window.captureQuality().FiguresText()); });
    if (session.StopRequested())
        window.CloseBySignal(); // asked while a box was open before the window existed
    else
        window.FormCreate();
    window.CreatePrintOptions();
    LoadFormsSizeAndPos(window.paths().PrefsFileName);
    window.EndStartup();
    window.show();
    // A signal during the start-up has already closed everything.
    const int result =
        window.SignalExitStatus() >= 0 ? window.SignalExitStatus() : QApplication::exec();
    owner = nullptr;
    return result;
}

} // namespace evtrak
