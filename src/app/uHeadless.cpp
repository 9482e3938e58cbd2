#include "app/uHeadless.h"

#include "acquisition/ktPorts.h"
#include "acquisition/uCaptureControl.h"
#include "acquisition/uCaptureQuality.h"
#include "app/uSession.h"
#include "base/ktMisc.h"
#include "base/uResStr.h"
#include "eventlog/uFolderLock.h"
#include "eventlog/uLog.h"
#include "eventlog/uSavingPolicy.h"
#include "mqtt/uMqttPublisher.h"
#include "mqtt/uMqttStation.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QTimer>
#include <chrono>
#include <cstdio>

namespace evtrak {

int RunHeadless(const CommandLineOptions& options)
{
    // Nobody is there to answer: no question is asked, what the window would show in a
    // box goes to standard error.
    TSession session(SessionSetup{QCoreApplication::applicationDirPath()});
    if (!session.InstallStopSignals()) {
        PrintErr(QStringLiteral("evtrak : impossible d'installer la gestion des signaux."));
        return 1;
    }
    QObject::connect(&session, &TSession::notice, [](const QString& text) { PrintErr(text); });

    session.ReadSettings();
    TUserPrefs& prefs = session.prefs();
    if (!options.mqttHost.isEmpty()) {
        prefs.MqttEnabled = true;
        prefs.MqttHost = options.mqttHost;
        prefs.MqttPort = options.mqttPort;
    }

    // Only the folder's owner goes further: a second process touches nothing there,
    // neither the journal nor the outbox, the day's file or the port.
    if (session.TakeLogFolder(HeadlessLockMode()) != TFolderLock::Result::Acquired) {
        PrintErr(QStringLiteral("evtrak : ") + session.folderLock().ErrorText());
        return 2;
    }
    PortStartOptions portOptions;
    portOptions.portDevice = options.portDevice;
    portOptions.demo = options.demo;
    session.StartPort(portOptions);

    // A day's file that cannot be read must not be replaced at exit: stop here (the
    // journal found stays for a later run).
    if (!session.OpenDayFile())
        return 2;
    // A journal left by an interrupted run: its events that no file holds are put back
    // and saved with this run's rows.
    session.RecoverJournal();

    TMqttStation& mqtt = session.mqtt();
    session.ConfigureMqtt();
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
        PrintErr(mqttConnected
                     ? QStringLiteral("MQTT : connecté à %1").arg(publisher->Config().Describe())
                     : QStringLiteral("MQTT : non connecté%1")
                           .arg(error.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(error)));
    });
    if (mqtt.Active())
        PrintErr(QStringLiteral("MQTT : publication sur %1, sujet %2")
                     .arg(mqtt.Publisher()->Config().Describe(),
                          mqtt.Publisher()->Config().EventsTopic()));

    TEventList& list = session.eventList();
    session.setRecordedHook([&list](std::span<const CapturedEvent> events) {
        QByteArray out;
        for (int row = int(events.size()) - 1; row >= 0; --row) // oldest first
            out += list.fileLine(row).toUtf8() + '\n';
        std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout);
        std::fflush(stdout);
    });

    TCaptureController& capture = session.capture();
    int status = 0;
    switch (session.StartCapture()) {
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
        PrintErr(QStringLiteral("Acquisition en cours sur %1 (fichier %2) ; Ctrl+C pour arrêter.")
                     .arg(GetPortName(prefs.PortBaseAddressIndex),
                          QFileInfo(session.savingPolicy().CurrentEventFile()).fileName()));
        QObject::connect(&session, &TSession::stopRequested, [] { QCoreApplication::quit(); });
        // Stalls are reported as they are noticed; SIGUSR1 prints the figures.
        const std::int64_t startNs = MonotonicNs();
        auto figuresLine = [&capture, startNs] {
            const CaptureFigures f = capture.Quality().Figures();
            const double seconds = double(MonotonicNs() - startNs) / 1e9;
            return CaptureFiguresLine(f, seconds > 0 ? double(f.Passes) / seconds : 0.0);
        };
        auto reportStalls = [&capture] {
            for (const StallReport& r : capture.Quality().TakeStalls())
                PrintErr(
                    QStringLiteral("%1 %2").arg(QDateTime::fromMSecsSinceEpoch(r.WallMs).toString(
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
        QObject::connect(&session, &TSession::figuresRequested, &figuresReceiver,
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
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            PrintErr(QStringLiteral("passes/s %1 (%2 passes en %3 s)")
                         .arg(qRound64(double(capture.Passes()) / s))
                         .arg(capture.Passes())
                         .arg(s, 0, 'f', 2));
        }
    }
    // The same end as the window's on a stop signal: the journal stays when the rows did
    // not reach their file, and the next run offers them back.
    if (session.End(TSession::EndMode::NoQuestions, std::chrono::seconds(2)) ==
            TSession::EndResult::SaveFailed &&
        status == 0)
        status = 1;
    return status;
}

} // namespace evtrak
