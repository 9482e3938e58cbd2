// The Stations window through the real widgets: stations seen through a real broker
// (retained statuses, last wills, events) and through a collector's folders.
#include "base/uResStr.h"
#include "eventlog/uSavingPolicy.h"
#include "mainwindow_support.h"
#include "mosquitto_support.h"
#include "mqtt/uMqttMessages.h"
#include "ui/widgets/frmStations.h"

#include <QAction>
#include <QScreen>
#include <QTableView>
#include <QTableWidget>

using namespace evtrak;
using namespace evtrak::test;

// The broker is started while Qt's and the watch's threads run; under ThreadSanitizer
// that fork is fine here (the child only execs).
extern "C" const char* __tsan_default_options()
{
    return "die_after_fork=0";
}

namespace {

// A station as the broker sees it: a plain client with the station's last will.
class FakeStation
{
public:
    FakeStation(int port, const QString& name) : m_name(name)
    {
        mosquitto_lib_init();
        m_mosq = mosquitto_new(nullptr, true, nullptr);
        const QByteArray offline = Status(false);
        const QByteArray topic = StatusTopic();
        mosquitto_will_set(m_mosq, topic.constData(), int(offline.size()), offline.constData(), 1,
                           true);
        m_up = mosquitto_connect(m_mosq, "127.0.0.1", port, 60) == MOSQ_ERR_SUCCESS &&
               mosquitto_loop_start(m_mosq) == MOSQ_ERR_SUCCESS;
        Publish(topic, Status(true), true);
    }
    // Gone without a word: the broker gives its last will.
    ~FakeStation()
    {
        mosquitto_loop_stop(m_mosq, true);
        mosquitto_destroy(m_mosq);
    }
    bool Up() const { return m_up; }
    void Event(std::uint64_t seq, int input, std::int64_t epochMs, bool state)
    {
        CapturedEvent ev;
        ev.Suffix = true;
        ev.State = state;
        ev.InputIndex = input;
        ev.EpochMs = epochMs;
        Publish(("evtrak/" + m_name + "/events").toUtf8(),
                EventJsonHead(m_name) + QByteArray::number(qulonglong(seq)) +
                    EventJsonTail(ev, QStringLiteral("Entrée %1").arg(input)),
                false);
    }

private:
    QByteArray StatusTopic() const { return ("evtrak/" + m_name + "/status").toUtf8(); }
    QByteArray Status(bool online) const
    {
        TMqttConfig c;
        c.Station = m_name;
        c.InterfaceName = QStringLiteral("LPT1 (0x378)");
        return StatusJson(c, online);
    }
    void Publish(const QByteArray& topic, const QByteArray& payload, bool retain)
    {
        mosquitto_publish(m_mosq, nullptr, topic.constData(), int(payload.size()),
                          payload.constData(), 1, retain);
    }

    QString m_name;
    mosquitto* m_mosq = nullptr;
    bool m_up = false;
};

QString Cell(QTableWidget* t, const QString& station, int column)
{
    for (int r = 0; r < t->rowCount(); ++r)
        if (t->item(r, TfmStations::ColName)->text() == station)
            return t->item(r, column)->text();
    return QStringLiteral("<absent>");
}

QString EventCell(QTableView* v, int row, int column)
{
    return v->model()->index(row, column).data().toString();
}

} // namespace

class TestStations : public QObject
{
    Q_OBJECT

    // The window's program set to watch the broker on port as station "poste-a".
    static TfmStations& Open(WindowRig& rig, int port)
    {
        rig.start(false);
        TUserPrefs& p = rig.window->prefs();
        p.MqttHost = port ? QStringLiteral("127.0.0.1") : QString();
        p.MqttPort = port;
        p.MqttStation = QStringLiteral("poste-a");
        p.LogUseColors = true;
        p.Inputs[2].TextColor = 0x0000FF; // red
        rig.window->action(QStringLiteral("ActStations"))->trigger();
        return *rig.window->stationsWindow();
    }

private Q_SLOTS:
    void initTestCase() { IsolateUserFolders(); }

    void twoStationsLiveThroughTheBroker()
    {
        if (MosquittoProgram().isEmpty())
            QSKIP("mosquitto is not installed (scripts/deps.sh installs it)");
        WindowRig rig;
        TestBroker broker(rig.path(QStringLiteral("broker")));
        QDir().mkpath(rig.path(QStringLiteral("broker")));
        QVERIFY(broker.Start());
        auto a = std::make_unique<FakeStation>(broker.Port(), QStringLiteral("poste-a"));
        auto b = std::make_unique<FakeStation>(broker.Port(), QStringLiteral("poste-b"));
        QVERIFY(a->Up() && b->Up());

        TfmStations& w = Open(rig, broker.Port());
        QTableWidget* t = w.stationsTable();
        QTRY_COMPARE(t->rowCount(), 2);
        QTRY_COMPARE(Cell(t, QStringLiteral("poste-a"), TfmStations::ColState),
                     QStringLiteral("en ligne"));
        QTRY_COMPARE(Cell(t, QStringLiteral("poste-b"), TfmStations::ColState),
                     QStringLiteral("en ligne"));
        QCOMPARE(Cell(t, QStringLiteral("poste-b"), TfmStations::ColInterface),
                 QStringLiteral("LPT1 (0x378)"));
        QVERIFY2(w.brokerText().contains(QStringLiteral("connecté")), qPrintable(w.brokerText()));

        // Arrival order is not time order; a redelivered message shows once.
        const std::int64_t t0 = QDateTime::currentMSecsSinceEpoch() - 60000;
        b->Event(1, 2, t0, true);
        b->Event(2, 2, t0 + 2000, false);
        a->Event(7, 2, t0 + 1000, true);
        b->Event(2, 2, t0 + 2000, false);
        a->Event(8, 3, t0 + 3000, true);
        QTableView* v = w.eventsView();
        QTRY_COMPARE(v->model()->rowCount(), 4);
        QCOMPARE(v->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Poste"));
        const QStringList order = {
            EventCell(v, 0, 0) + EventCell(v, 0, 1), EventCell(v, 1, 0) + EventCell(v, 1, 1),
            EventCell(v, 2, 0) + EventCell(v, 2, 1), EventCell(v, 3, 0) + EventCell(v, 3, 1)};
        QCOMPARE(order, QStringList({"poste-aEntrée 3 [ON]", "poste-bEntrée 2 [OFF]",
                                     "poste-aEntrée 2 [ON]", "poste-bEntrée 2 [ON]"}));
        // This station's input colours; another station's input 2 is not ours.
        QCOMPARE(v->model()->index(2, 1).data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
        QVERIFY(!v->model()->index(1, 1).data(Qt::ForegroundRole).isValid());
        QTRY_COMPARE(Cell(t, QStringLiteral("poste-b"), TfmStations::ColLastEvent),
                     QStringLiteral("Entrée 2 [OFF]"));
        QCOMPARE(Cell(t, QStringLiteral("poste-b"), TfmStations::ColToday), QStringLiteral("≥ 2"));

        // poste-b vanishes: its last will turns it offline, poste-a stays online.
        b.reset();
        QTRY_COMPARE_WITH_TIMEOUT(Cell(t, QStringLiteral("poste-b"), TfmStations::ColState),
                                  QStringLiteral("hors ligne"), 10000);
        QCOMPARE(Cell(t, QStringLiteral("poste-a"), TfmStations::ColState),
                 QStringLiteral("en ligne"));

        // A double-click opens the collector's day file of that event through the
        // window's open path, which asks about unsaved rows first.
        const QDate day = QDateTime::fromMSecsSinceEpoch(t0 + 2000).date();
        const QString file = StationDayFile(rig.logDir() + QStringLiteral("stations/"),
                                            QStringLiteral("poste-b"), day);
        QDir().mkpath(QFileInfo(file).absolutePath());
        WriteBytes(file, "Entrée 2 [ON];2;01/02/2025 10:00:00;0\r\n"
                         "Entrée 2 [OFF];2;01/02/2025 10:00:02;2000\r\n");
        AddRows(rig.window->eventList(), 1);
        rig.prompt.answers = {Answer::No};
        const QRect cell = v->visualRect(v->model()->index(1, 1));
        QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(v->viewport(), Qt::LeftButton, {}, cell.center());
        QVERIFY2(rig.prompt.saw(ResStr::AskSaveModified()),
                 qPrintable(rig.prompt.shown.join(u'|')));
        QCOMPARE(rig.window->eventList().rowCount(), 2);
        QCOMPARE(rig.window->savingPolicy().CurrentEventFile(), file);
    }

    void collectorFolderWithoutBroker()
    {
        WindowRig rig;
        const QString dir = rig.logDir() + QStringLiteral("stations/poste-c/");
        QDir().mkpath(dir);
        WriteBytes(dir + QStringLiteral("collect.state"),
                   "contiguous=40\nlast_seq=60\ngaps=41-44\nlost=10-19,30-31\nfilled=25\n");
        const QString today = StationDayFile(rig.logDir() + QStringLiteral("stations/"),
                                             QStringLiteral("poste-c"), QDate::currentDate());
        // The last line is still being written.
        WriteBytes(today, "A;1;01/02/2025 10:00:00;0\r\nB;1;01/02/2025 10:00:01;0\r\n"
                          "C;1;01/02/2025 10:00:02;0\r\nD;1;01/02/20");
        TfmStations& w = Open(rig, 0);
        QTableWidget* t = w.stationsTable();
        QTRY_COMPARE(Cell(t, QStringLiteral("poste-c"), TfmStations::ColToday),
                     QStringLiteral("3"));
        QCOMPARE(Cell(t, QStringLiteral("poste-c"), TfmStations::ColFilled), QStringLiteral("25"));
        QCOMPARE(Cell(t, QStringLiteral("poste-c"), TfmStations::ColLost), QStringLiteral("12"));
        QCOMPARE(Cell(t, QStringLiteral("poste-c"), TfmStations::ColState),
                 QStringLiteral("inconnu"));
        QCOMPARE(Cell(t, QStringLiteral("poste-c"), TfmStations::ColLastEvent),
                 QStringLiteral("C"));
        QVERIFY(w.brokerText().startsWith(QStringLiteral("Aucun serveur MQTT")));

        // The file grows: the cut line is counted once whole, nothing twice.
        QFile f(today);
        QVERIFY(f.open(QIODevice::Append));
        f.write("25 10:00:03;0\r\nE;1;01/02/2025 10:00:04;0\r\n");
        f.close();
        w.ScanArchiveNow();
        QTRY_COMPARE(Cell(t, QStringLiteral("poste-c"), TfmStations::ColToday),
                     QStringLiteral("5"));
        QCOMPARE(Cell(t, QStringLiteral("poste-c"), TfmStations::ColLastEvent),
                 QStringLiteral("E"));
        // Read in slices that cut lines anywhere: the same count.
        TDayFileCount sliced{today, 0, 0, 0, std::nullopt};
        CountDayFile(sliced, QDate::currentDate().year(), 7);
        QCOMPARE(sliced.Count, 5u);
        QCOMPARE(sliced.Last->Label, QStringLiteral("E"));
        // Replaced by a shorter file (a rewrite): counted again from its start.
        WriteBytes(today, "Z;1;01/02/2025 11:00:00;0\r\n");
        w.ScanArchiveNow();
        QTRY_COMPARE(Cell(t, QStringLiteral("poste-c"), TfmStations::ColToday),
                     QStringLiteral("1"));
    }

    void brokerAwayKeepsTheFolders()
    {
        WindowRig rig;
        QDir().mkpath(rig.logDir() + QStringLiteral("stations/poste-c"));
        TfmStations& w = Open(rig, FreeLoopbackPort());
        QTRY_VERIFY(w.brokerText().contains(QStringLiteral("injoignable (connexion refusée)")));
        QTRY_COMPARE(w.stationsTable()->rowCount(), 1);
        QVERIFY(w.screen()->availableGeometry().contains(w.frameGeometry()));
        // Échap closes the window, and its subscription with it.
        QTest::keyClick(&w, Qt::Key_Escape);
        QTRY_VERIFY(!rig.window->stationsWindow());
    }

    // Closed while its first scan still counts a long day file: the scan stops and
    // nothing reaches the window once it is gone (the sanitizer builds watch this).
    void closedDuringAScan()
    {
        WindowRig rig;
        QDir().mkpath(rig.logDir() + QStringLiteral("stations/poste-c"));
        WriteBytes(StationDayFile(rig.logDir() + QStringLiteral("stations/"),
                                  QStringLiteral("poste-c"), QDate::currentDate()),
                   QByteArray("A;1;01/02/2025 10:00:00;0\r\n").repeated(1000000));
        TfmStations& w = Open(rig, 0);
        QVERIFY(w.stationsTable()->rowCount() == 0);
        QTest::keyClick(&w, Qt::Key_Escape);
        QTRY_VERIFY(!rig.window->stationsWindow());
        QTest::qWait(100);
    }
};

QTEST_MAIN(TestStations)
#include "tst_stations.moc"
