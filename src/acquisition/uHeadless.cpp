#include "acquisition/uHeadless.h"

#include "acquisition/ktPorts.h"
#include "acquisition/uCaptureControl.h"
#include "acquisition/uCaptureQuality.h"
#include "eventlog/uJournal.h"
#include "eventlog/uLog.h"
#include "eventlog/uMqttPublisher.h"
#include "eventlog/uMqttStation.h"
#include "eventlog/uSavingPolicy.h"
#include "eventlog/uUserPrompt.h"
#include "settings/uUserPrefs.h"
#include "ui/ktPaths.h"
#include "ui/ktStopSignals.h"
#include "ui/uResStr.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace evtrak {

namespace {

int g_figuresPipe[2] = {-1, -1};

extern "C" void OnFiguresSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_figuresPipe[1], &byte, 1);
}

// SIGUSR1 asks for the capture's figures: one byte into a pipe of its own.
class FiguresSignal
{
public:
    FiguresSignal()
    {
        if (::pipe2(g_figuresPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        struct sigaction sa
        {
        };
        sa.sa_handler = OnFiguresSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        m_installed = sigaction(SIGUSR1, &sa, &m_old) == 0;
    }
    ~FiguresSignal()
    {
        if (m_installed)
            sigaction(SIGUSR1, &m_old, nullptr);
        if (g_figuresPipe[0] >= 0) {
            ::close(g_figuresPipe[0]);
            ::close(g_figuresPipe[1]);
        }
        g_figuresPipe[0] = g_figuresPipe[1] = -1;
    }
    FiguresSignal(const FiguresSignal&) = delete;
    FiguresSignal& operator=(const FiguresSignal&) = delete;
    int readFd() const { return m_installed ? g_figuresPipe[0] : -1; }

private:
    bool m_installed = false;
    struct sigaction m_old
    {
    };
};

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

    if (!options.mqttHost.isEmpty()) {
        prefs.MqttEnabled = true;
        prefs.MqttHost = options.mqttHost;
        prefs.MqttPort = options.mqttPort;
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
            PrintErr(QStringLiteral("evtrak : impossible d'ouvrir le journal de reprise %1 : %2.")
                         .arg(journal.Path(), ResStr::SystemReason(journal.OpenError())));
        DropListedEvents(list, prefs, found);
        if (!found.empty()) {
            InsertRecoveredEvents(list, found);
            PrintErr(QStringLiteral("evtrak : %1 évenement(s) d'une acquisition interrompue "
                                    "récupéré(s) ; ils seront sauvés avec les autres.")
                         .arg(found.size()));
        }
        journal.AcceptRecovered(found);

        TMqttStation mqtt(prefs);
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
            FiguresSignal figures;
            std::unique_ptr<QSocketNotifier> figuresNotifier;
            if (figures.readFd() >= 0) {
                figuresNotifier =
                    std::make_unique<QSocketNotifier>(figures.readFd(), QSocketNotifier::Read);
                QObject::connect(figuresNotifier.get(), &QSocketNotifier::activated,
                                 [&figures, &figuresLine, &reportStalls] {
                                     char buf[16];
                                     while (::read(figures.readFd(), buf, sizeof buf) > 0) {
                                     }
                                     reportStalls();
                                     PrintErr(figuresLine());
                                 });
            }
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
