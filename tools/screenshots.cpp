// Pictures of the dialogs and of the printed report for the documentation:
//   evtrak_screenshots <folder>
// writes options-1.png .. options-N.png, about.png, printoptions.png,
// search-bar.png (the main window at its first size with the search bar open),
// statistics.png, report-page-1.png, report-page-2.png (through pdftoppm) and
// stations.png (with a private Mosquitto broker when one is installed) into the folder.
// Runs on the offscreen platform when there is no display; QT_SCALE_FACTOR=2 gives the
// pictures at twice the size.
#include "acquisition/ktPorts.h"
#include "app/uSession.h"
#include "base/uUserPrompt.h"
#include "eventlog/uEventStatistics.h"
#include "eventlog/uLog.h"
#include "mosquitto_support.h"
#include "mqtt/uMqttMessages.h"
#include "settings/uUserPrefs.h"
#include "ui/widgets/frmAbout.h"
#include "ui/widgets/frmMain.h"
#include "ui/widgets/frmOptions.h"
#include "ui/widgets/frmPrintOptions.h"
#include "ui/widgets/frmReport01.h"
#include "ui/widgets/frmStations.h"
#include "ui/widgets/frmStatistics.h"
#include "ui/widgets/ktTranslations.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <cstdio>

using namespace evtrak;

namespace {

bool Save(QWidget& w, const QString& name)
{
    QApplication::processEvents(); // pending layouts: scroll bars, wrapped bars
    const bool ok = w.grab().save(name);
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "écrit" : "échec :", qPrintable(name));
    return ok;
}

bool OptionsPages(const QString& dir)
{
    TUserPrefs live = DefaultUserPrefs();
    live.LogUseColors = true;
    live.Inputs[0].Label = QStringLiteral("Porte du local");
    live.Inputs[0].TextColor = 0x0000FF;
    live.Inputs[0].BGColor = 0x00FFFF;
    live.ReportMainTitle = QStringLiteral("Atelier 2");
    TfmOptions dialog(
        live, [] {}, nullptr, [](const QString&) {});
    dialog.LoadFromSettings();
    dialog.show();
    auto* pages = dialog.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    bool ok = pages != nullptr;
    for (int i = 0; ok && i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        ok = Save(dialog, QStringLiteral("%1/options-%2.png").arg(dir).arg(i + 1));
    }
    return ok;
}

bool SmallDialogs(const QString& dir)
{
    TfmAbout about;
    TfmPrintOptions printOptions;
    return Save(about, dir + QStringLiteral("/about.png")) &&
           Save(printOptions, dir + QStringLiteral("/printoptions.png"));
}

// Rows of a day of work: a door, a press and a pressure switch.
void AddDay(TEventList& list, const TUserPrefs& prefs, int count)
{
    const QDateTime newest(QDate(2026, 12, 8), QTime(17, 45, 12));
    for (int r = count - 1; r >= 0; --r) {
        const int input = (r * 7) % 13;
        const EventRecord rec{prefs.Inputs[std::size_t(input)].Label, input,
                              DateTimeFromQt(newest.addSecs(-37 * r)), 120 + r * 131};
        list.AddEvent(rec, true, r % 2 == 0, true);
    }
}

// The two coloured inputs of the pictures.
void ShowInputs(TUserPrefs& prefs)
{
    prefs.Inputs[3].Label = QStringLiteral("Porte du local");
    prefs.Inputs[3].TextColor = 0x0000FF;
    prefs.Inputs[3].BGColor = 0x00FFFF;
    prefs.Inputs[5].Label = QStringLiteral("Capteur de pression");
    prefs.Inputs[5].TextColor = 0xFFFFFF;
    prefs.Inputs[5].BGColor = 0x800000;
}

bool MainWindowShots(const QString& dir)
{
    QTemporaryDir program;
    QFile(program.filePath(QStringLiteral("evtrak.portable"))).open(QIODevice::WriteOnly);
    const QString portFile = program.filePath(QStringLiteral("port.bin"));
    QFile port(portFile);
    if (!port.open(QIODevice::WriteOnly))
        return false;
    QByteArray space(65536, '\0');
    space[0x379] = char(0x80); // status lines idle
    port.write(space);
    port.close();
    PortStartOptions o;
    o.portDevice = portFile;
    const std::unique_ptr<PortAccess> ports = StartPortDriver(o);
    TSession session(SessionSetup{program.path()});
    session.ReadSettings();
    session.UsePort(*ports);
    MainWindowSetup setup;
    setup.session = &session;
    setup.portMode = QStringLiteral("fichier");
    setup.pauseMs = 0;
    TfmMain w(setup);
    w.FormCreate();
    w.EndStartup();
    TUserPrefs& prefs = w.prefs();
    prefs.LogUseColors = true;
    ShowInputs(prefs);
    w.ApplyUserPrefs();
    AddDay(w.eventList(), prefs, 40);
    w.show();
    w.action(QStringLiteral("ActLogFind"))->trigger();
    if (auto* text = w.findChild<QLineEdit*>(QStringLiteral("edFilterText")))
        text->setText(QStringLiteral("Porte"));
    QElapsedTimer pause; // the filter applies once the typing pauses
    pause.start();
    while (pause.elapsed() < 400)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    bool ok = Save(w, dir + QStringLiteral("/search-bar.png"));
    std::vector<int> rows(std::size_t(w.eventList().rowCount()));
    for (int i = 0; i < int(rows.size()); ++i)
        rows[std::size_t(i)] = i;
    TfmStatistics stats(ComputeStatistics(w.eventList(), rows), prefs,
                        QStringLiteral("40 évenements"), &w);
    stats.show();
    QApplication::processEvents();
    ok = ok && Save(stats, dir + QStringLiteral("/statistics.png"));
    w.eventList().SetModified(false);
    return ok;
}

bool ReportPages(const QString& dir)
{
    TUserPrefs prefs = DefaultUserPrefs();
    prefs.ReportMainTitle = QStringLiteral("Atelier 2 - presse à balancier");
    prefs.ReportSubTitle = QStringLiteral("Relevé de la semaine 49");
    prefs.LogPrintColors = true;
    ShowInputs(prefs);
    TEventList list(prefs);
    const QDateTime newest(QDate(2026, 12, 8), QTime(17, 45, 12));
    for (int r = 0; r < 80; ++r) {
        const int input = (r * 7) % 13;
        const EventRecord rec{prefs.Inputs[input].Label, input,
                              DateTimeFromQt(newest.addSecs(-37 * r)), 120 + r * 131};
        list.AddEvent(rec, true, r % 2 == 0, false);
    }
    QTemporaryDir tmp;
    const QString pdf = tmp.filePath(QStringLiteral("report.pdf"));
    if (!WriteReportPdf(list, prefs, pdf, nullptr, QDate(2026, 12, 8)))
        return false;
    const int rc =
        QProcess::execute(QStringLiteral("pdftoppm"),
                          {QStringLiteral("-r"), QStringLiteral("80"), QStringLiteral("-png"),
                           QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                           QStringLiteral("2"), pdf, dir + QStringLiteral("/report-page")});
    std::printf("pages du rapport : %s\n", rc == 0 ? "écrites" : "échec de pdftoppm");
    return rc == 0;
}

// Three stations of a workshop: two with a collector's folders on this machine, one
// gone (its last will), and their events arriving through a private broker.
bool StationsWindow(const QString& dir)
{
    QTemporaryDir tmp;
    const QString logDir = tmp.filePath(QStringLiteral("Log")) + u'/';
    const QDateTime now = QDateTime::currentDateTime();
    const QString dayFile = now.date().toString(QStringLiteral("yyyy_MM_dd")) + ".txt";
    for (const auto& [station, state, events] :
         {std::tuple{"atelier-1", "contiguous=1482\nlast_seq=1482\nfilled=0\nlost_count=0\n", 212},
          std::tuple{"atelier-2",
                     "contiguous=9120\nlast_seq=9120\nfilled=350\nlost=4001-4040\nlost_count=40\n",
                     1375}}) {
        const QString folder = logDir + QStringLiteral("stations/") + QLatin1String(station) + u'/';
        QDir().mkpath(folder);
        QFile f(folder + QStringLiteral("collect.state"));
        if (f.open(QIODevice::WriteOnly))
            f.write(state);
        QFile day(folder + dayFile);
        if (day.open(QIODevice::WriteOnly))
            for (int i = 0; i < events; ++i)
                day.write(QStringLiteral("Entrée %1 [ON];%1;%2;0\r\n")
                              .arg(i % 4)
                              .arg(FormatEventDateTime(DateTimeFromQt(now.addSecs(i - 7200))))
                              .toUtf8());
    }
    TUserPrefs prefs = DefaultUserPrefs();
    prefs.MqttStation = QStringLiteral("atelier-1");
    prefs.LogUseColors = true;
    prefs.Inputs[2].TextColor = 0x0000FF;
    prefs.Inputs[2].BGColor = 0x00FFFF;
    test::TestBroker broker(tmp.path());
    const bool withBroker = !test::MosquittoProgram().isEmpty() && broker.Start();
    if (withBroker) {
        prefs.MqttHost = QStringLiteral("127.0.0.1");
        prefs.MqttPort = broker.Port();
    }
    SilentPrompt prompt;
    TfmStations window(prefs, logDir, prompt, [](const QString&) {});
    window.show();
    auto waitFor = [](const std::function<bool()>& done) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    };
    mosquitto* client = nullptr;
    if (withBroker) {
        waitFor([&] { return window.brokerText().contains(QStringLiteral("connecté")); });
        client = mosquitto_new(nullptr, true, nullptr);
        mosquitto_connect(client, "127.0.0.1", broker.Port(), 60);
        auto publish = [&](const QString& topic, const QByteArray& payload, bool retain) {
            mosquitto_publish(client, nullptr, topic.toUtf8().constData(), int(payload.size()),
                              payload.constData(), 1, retain);
            mosquitto_loop(client, 10, 1);
        };
        for (const char* station : {"atelier-1", "atelier-2", "quai-3"}) {
            TMqttConfig c;
            c.Station = QLatin1String(station);
            c.InterfaceName = QStringLiteral("LPT1 (0x378)");
            publish(QStringLiteral("evtrak/%1/status").arg(c.Station),
                    StatusJson(c, c.Station != QLatin1String("quai-3")), true);
        }
        for (int i = 0; i < 24; ++i) {
            const QString station =
                i % 3 ? QStringLiteral("atelier-2") : QStringLiteral("atelier-1");
            CapturedEvent ev{true, i % 2 == 0, i % 4,
                             0,    0,          now.toMSecsSinceEpoch() - (24 - i) * 4000};
            publish(QStringLiteral("evtrak/%1/events").arg(station),
                    EventJsonHead(station) + QByteArray::number(9200 + i) +
                        EventJsonTail(ev, QStringLiteral("Entrée %1").arg(ev.InputIndex)),
                    false);
        }
        waitFor([&] { return window.eventsView()->model()->rowCount() == 24; });
    }
    waitFor([&] { return window.stationsTable()->rowCount() >= 2; });
    const bool ok = Save(window, dir + QStringLiteral("/stations.png"));
    if (client)
        mosquitto_destroy(client);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallFrenchTranslations(app);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage : evtrak_screenshots DOSSIER\n");
        return 2;
    }
    const QString dir = args.at(1);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "dossier impossible à créer : %s\n", qPrintable(dir));
        return 2;
    }
    const bool ok = OptionsPages(dir) && SmallDialogs(dir) && MainWindowShots(dir) &&
                    ReportPages(dir) && StationsWindow(dir);
    return ok ? 0 : 1;
}
