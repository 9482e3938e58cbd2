#include "acquisition/uHeadless.h"

#include "acquisition/ktPorts.h"
#include "acquisition/uCaptureControl.h"
#include "eventlog/uLog.h"
#include "eventlog/uMqttPublisher.h"
#include "eventlog/uMqttStation.h"
#include "eventlog/uSavingPolicy.h"
#include "eventlog/uUserPrompt.h"
#include "settings/uUserPrefs.h"
#include "ui/ktPaths.h"
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

int g_signalPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

void PrintErr(const QString& text)
{
    const QByteArray bytes = (text + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

// SIGINT and SIGTERM write one byte into a pipe that the event loop watches.
class StopSignals
{
public:
    StopSignals()
    {
        if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        struct sigaction sa
        {
        };
        sa.sa_handler = OnStopSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGINT, &sa, &m_oldInt);
        sigaction(SIGTERM, &sa, &m_oldTerm);
        // A closed stdout must not kill the program before it has saved.
        struct sigaction ignore
        {
        };
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &m_oldPipe);
        m_installed = true;
    }
    ~StopSignals()
    {
        if (!m_installed)
            return;
        sigaction(SIGINT, &m_oldInt, nullptr);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
        sigaction(SIGPIPE, &m_oldPipe, nullptr);
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    bool installed() const { return m_installed; }
    int readFd() const { return g_signalPipe[0]; }

private:
    bool m_installed = false;
    struct sigaction m_oldInt
    {
    };
    struct sigaction m_oldTerm
    {
    };
    struct sigaction m_oldPipe
    {
    };
};

} // namespace

int RunHeadless(const CommandLineOptions& options)
{
    StopSignals signals;
    if (!signals.installed()) {
        PrintErr(QStringLiteral("evtrak : impossible d'installer la gestion des signaux."));
        return 1;
    }

    const AppPaths paths = InitPaths(QCoreApplication::applicationDirPath());
    for (const QString& error : paths.Errors)
        PrintErr(error);
    TUserPrefs prefs = DefaultUserPrefs();
    if (!ReadUserPrefs(prefs, paths.PrefsFileName, nullptr))
        PrintErr(QStringLiteral("evtrak : lecture impossible de %1, réglages par défaut.")
                     .arg(paths.PrefsFileName));

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
        SilentPrompt prompt(Answer::Yes);
        TSavingPolicy policy(list, prefs, prompt);
        policy.SetLogDir(paths.LogDir);
        policy.InitDay();
        policy.OpenDailyFile();

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

        TCaptureController capture(prefs, *access, list, policy);
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
            QSocketNotifier notifier(signals.readFd(), QSocketNotifier::Read);
            QObject::connect(&notifier, &QSocketNotifier::activated, [&notifier] {
                char buf[16];
                while (::read(notifier.socket(), buf, sizeof buf) > 0) {
                }
                QCoreApplication::quit();
            });
            QCoreApplication::exec();
            capture.CaptureStop();
            if (list.Modified() && !policy.SaveEventFile(policy.CurrentEventFile())) {
                PrintErr(ResStr::SaveFailed(policy.CurrentEventFile()));
                status = 1;
            }
        }
        mqtt.Shutdown(std::chrono::seconds(2));
    }
    RemovePortDriver(access);
    return status;
}

} // namespace evtrak
