#include "app/uHeadless.h"

#include "acquisition/ktPorts.h"
#include "acquisition/uCaptureControl.h"
#include "acquisition/uCaptureQuality.h"
#include "app/ktPaths.h"
#include "app/ktStopSignals.h"
#include "base/ktMisc.h"
#include "base/ktSafeFile.h"
#include "base/uResStr.h"
#include "base/uUserPrompt.h"
#include "eventlog/uFolderLock.h"
#include "eventlog/uJournal.h"
#include "eventlog/uLog.h"
#include "eventlog/uSavingPolicy.h"
#include "mqtt/uMqttPublisher.h"
#include "mqtt/uMqttStation.h"
#include "settings/uUserPrefs.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QTimer>
#include <chrono>
#include <cstdio>

namespace evtrak {

namespace {

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

    if (!options.mqttHost.isEmpty()) {
        prefs.MqttEnabled = true;
        prefs.MqttHost = options.mqttHost;
        prefs.MqttPort = options.mqttPort;
    }

    // Only the folder's owner goes further: a second process touches nothing there,
    // neither the journal nor the outbox, the day's file or the port.
    TFolderLock folderLock;
    if (folderLock.Acquire(paths.LogDir, HeadlessLockMode()) != TFolderLock::Result::Acquired) {
        PrintErr(QStringLiteral("evtrak : ") + folderLock.ErrorText());
        return 2;
    }

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
        // A journal left by an interrupted run is read before this run writes its own;
        // its events that no file holds are put back and saved with this run's rows.
        TJournal journal(TJournal::PathIn(paths.LogDir));
        JournalFindings found = journal.Scan();
        if (!found.Problem.isEmpty())
            PrintErr(found.Problem);
        if (!found.CutFile.isEmpty())
            PrintErr(ResStr::TornLineCut(found.CutFile));
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
        policy.setJournal(&journal);
        if (!found.Events.empty()) {
            const RecoveryResult r =
                RecoverEvents(journal, found, list, prefs, paths.LogDir, QDate::currentDate());
            for (const QString& message : r.Messages)
                PrintErr(message);
            PrintErr(ResStr::RecoveredEvents(r.IntoList, r.IntoDayFiles));
        }
        if (!journal.IsOpen() && !journal.Open())
            PrintErr(QStringLiteral("evtrak : impossible d'ouvrir le journal de reprise %1 : %2.")
                         .arg(journal.Path(), ErrnoReason(journal.OpenError())));

        TMqttStation mqtt(prefs);
        QObject::connect(&mqtt, &TMqttStation::notice, [](const QString& text) { PrintErr(text); });
        mqtt.Configure(paths.LogDir, GetPortName(prefs.PortBaseAddressIndex));
        if (!mqtt.ErrorText().isEmpty())
            PrintErr(mqtt.ErrorText());
        bool mqttConnected = false;
        QObject::connect(&mqtt, &TMqttStation::statusChanged, [&mqtt, &mqttConnected] {
            // Only the connection's ups and downs: the waiting count changes too often.
            const TMqttPublisher* publisher = mqtt.Publisher();
            if (!publisher || publisher->Connected() == mqttConnected)
                return;
            mqttConnected = publisher->Connected();
            const QString error = publisher->ErrorText();
            PrintErr(
                mqttConnected
                    ? QStringLiteral("MQTT : connecté à %1").arg(publisher->Config().Describe())
                    : QStringLiteral("MQTT : non connecté%1")
                          .arg(error.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(error)));
        });
        if (mqtt.Active())
            PrintErr(QStringLiteral("MQTT : publication sur %1, sujet %2")
                         .arg(mqtt.Publisher()->Config().Describe(),
                              mqtt.Publisher()->Config().EventsTopic()));

        TInterface itf;
        TCaptureController capture(prefs, *access, itf, list, policy);
        capture.setJournal(&journal);
        capture.setRecordedHook([&list, &mqtt](std::span<const CapturedEvent> events) {
            QByteArray out;
            for (int row = int(events.size()) - 1; row >= 0; --row) // oldest first
                out += list.fileLine(row).toUtf8() + '\n';
            std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout);
            std::fflush(stdout);
            mqtt.Feed(events);
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
            PrintErr(QStringLiteral("evtrak : %1 n'est pas un port parallèle. ")
                         .arg(GetPortName(prefs.PortBaseAddressIndex)) +
                     ResStr::OnlyParallelPorts());
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
            // Stalls are reported as they are noticed; SIGUSR1 prints the figures.
            const std::int64_t startNs = MonotonicNs();
            auto figuresLine = [&capture, startNs] {
                const CaptureFigures f = capture.Quality().Figures();
                const double seconds = double(MonotonicNs() - startNs) / 1e9;
                return CaptureFiguresLine(f, seconds > 0 ? double(f.Passes) / seconds : 0.0);
            };
            auto reportStalls = [&capture] {
                for (const StallReport& r : capture.Quality().TakeStalls())
                    PrintErr(QStringLiteral("%1 %2").arg(
                        QDateTime::fromMSecsSinceEpoch(r.WallMs).toString(
                            QStringLiteral("dd/MM/yyyy hh:mm:ss")),
                        StallText(r.LengthMs)));
            };
            QTimer stallTimer;
            QObject::connect(&stallTimer, &QTimer::timeout, [&capture, &mqtt, &reportStalls] {
                reportStalls();
                mqtt.SetLinesWord(capture.Quality().Figures().States);
            });
            stallTimer.start(100);
            // Gone with this block, before what the figures read.
            QObject figuresReceiver;
            QObject::connect(&signals, &TStopSignals::figuresRequested, &figuresReceiver,
                             [&figuresLine, &reportStalls] {
                                 reportStalls();
                                 PrintErr(figuresLine());
                             });
            const auto started = std::chrono::steady_clock::now();
            QCoreApplication::exec();
            capture.CaptureStop();
            reportStalls();
            // Measurement hook: EVTRAK_PASS_RATE=1 prints the sampling rate at the end.
            if (qEnvironmentVariableIntValue("EVTRAK_PASS_RATE") != 0) {
                const double s =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
                        .count();
                PrintErr(QStringLiteral("passes/s %1 (%2 passes en %3 s)")
                             .arg(qRound64(double(capture.Passes()) / s))
                             .arg(capture.Passes())
                             .arg(s, 0, 'f', 2));
            }
            if (list.Modified() && !policy.SaveEventFile(policy.CurrentEventFile())) {
                PrintErr(ResStr::SaveFailed(policy.CurrentEventFile()));
                status = 1;
            }
        }
        // Everything is on disk unless the last save failed: then the journal stays
        // for the next run.
        if (status != 1 && !list.Modified())
            journal.Finish();
        mqtt.Shutdown(std::chrono::seconds(2));
    }
    RemovePortDriver(access);
    return status;
}

} // namespace evtrak
