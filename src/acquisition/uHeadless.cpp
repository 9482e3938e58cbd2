#include "acquisition/uHeadless.h"

#include "acquisition/ktPorts.h"
#include "acquisition/uCaptureControl.h"
#include "eventlog/uJournal.h"
#include "eventlog/uLog.h"
#include "eventlog/uSavingPolicy.h"
#include "eventlog/uUserPrompt.h"
#include "settings/uUserPrefs.h"
#include "ui/ktPaths.h"
#include "ui/ktStopSignals.h"
#include "ui/uResStr.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace evtrak {

namespace {

void PrintErr(const QString& text)
{
    const QByteArray bytes = (text + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

// No one is there to answer: questions get Yes, what the window would show in a box goes
// to standard error.
class StderrPrompt : public SilentPrompt
{
public:
    void Inform(const QString& text) override { PrintErr(text); }
};

} // namespace

int RunHeadless(const CommandLineOptions& options)
{
    TStopSignals signals;
    if (!signals.installed()) {
        PrintErr(QStringLiteral("evtrak : impossible d'installer la gestion des signaux."));
        return 1;
    }

    const AppPaths paths = InitPaths(QCoreApplication::applicationDirPath());
    for (const QString& error : paths.Errors)
        PrintErr(error);
    TUserPrefs prefs = DefaultUserPrefs();
    QString reason;
    if (!ReadUserPrefs(prefs, paths.PrefsFileName, nullptr, &reason))
        PrintErr(ResStr::CannotRead(paths.PrefsFileName, reason) +
                 QStringLiteral(" Réglages par défaut."));

    PortStartOptions portOptions;
    portOptions.portDevice = options.portDevice;
    portOptions.demo = options.demo;
    portOptions.lptSelection = prefs.PortBaseAddressIndex;
    std::unique_ptr<PortAccess> access = StartPortDriver(portOptions);
    PrintErr(access->Description());

    int status = 0;
    {
        TEventList list(prefs);
        StderrPrompt prompt;
        TSavingPolicy policy(list, prefs, prompt);
        policy.SetLogDir(paths.LogDir);
        policy.InitDay();
        // A journal left by an interrupted run is taken over before this run writes
        // its own; its events not already in the day's file go back into the list and
        // are saved with this run's rows.
        TJournal journal(TJournal::PathIn(paths.LogDir));
        std::vector<JournalEvent> found = journal.TakeOver();
        // A day's file that cannot be read must not be replaced at exit: stop here (the
        // journal found stays for a later run).
        if (!policy.OpenDailyFile()) {
            RemovePortDriver(access);
            return 2;
        }
        // One line when appends start failing, one when they work again.
        QObject::connect(&policy, &TSavingPolicy::appendFailingChanged, [&policy](bool failing) {
            const QString file = policy.CurrentEventFile();
            PrintErr(failing ? ResStr::AppendFailing(file) : ResStr::AppendWorksAgain(file));
        });
        if (!journal.Open())
            PrintErr(QStringLiteral("evtrak : impossible d'ouvrir le journal de reprise %1.")
                         .arg(journal.Path()));
        DropListedEvents(list, prefs, found);
        if (!found.empty()) {
            InsertRecoveredEvents(list, found);
            PrintErr(QStringLiteral("evtrak : %1 évenement(s) d'une acquisition interrompue "
                                    "récupéré(s) ; ils seront sauvés avec les autres.")
                         .arg(found.size()));
        }
        journal.AcceptRecovered(found);

        TCaptureController capture(prefs, *access, list, policy);
        capture.setJournal(&journal);
        capture.setRecordedHook([&list](std::span<const CapturedEvent> events) {
            QByteArray out;
            for (int row = int(events.size()) - 1; row >= 0; --row) // oldest first
                out += list.fileLine(row).toUtf8() + '\n';
            std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout);
            std::fflush(stdout);
        });

        capture.CaptureInitSystem();
        switch (capture.CaptureStart()) {
        case TCaptureController::StartResult::Started:
            break;
        case TCaptureController::StartResult::NotAccessible:
            PrintErr(ResStr::PortNotAccessible());
            status = 2;
            break;
        case TCaptureController::StartResult::NotLpt:
            PrintErr(ResStr::NotLpt());
            status = 2;
            break;
        case TCaptureController::StartResult::WorkerBusy:
            PrintErr(QStringLiteral("evtrak : l'acquisition n'a pas pu démarrer."));
            status = 1;
            break;
        }
        if (status == 0) {
            PrintErr(
                QStringLiteral("Acquisition en cours sur %1 (fichier %2) ; Ctrl+C pour arrêter.")
                    .arg(GetPortName(prefs.PortBaseAddressIndex),
                         QFileInfo(policy.CurrentEventFile()).fileName()));
            QObject::connect(&signals, &TStopSignals::stopRequested,
                             [] { QCoreApplication::quit(); });
            QCoreApplication::exec();
            capture.CaptureStop();
            if (list.Modified() && !policy.SaveEventFile(policy.CurrentEventFile())) {
                PrintErr(ResStr::SaveFailed(policy.CurrentEventFile()));
                status = 1;
            }
        }
        // Everything is on disk unless the last save failed: then the journal stays
        // for the next run.
        if (status != 1 && !list.Modified())
            journal.Finish();
    }
    RemovePortDriver(access);
    return status;
}

} // namespace evtrak
