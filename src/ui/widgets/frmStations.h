#pragma once
// The site's stations in one window: every station known from the broker's retained
// statuses and from a collector's folders on this machine, and beside them the last
// events of all stations, newest on top. Lives while shown; its subscription ends
// with it.

#include "mqtt/uMqttWatch.h"
#include "mqtt/uStationArchive.h"
#include "settings/uUserPrefs.h"

#include <QDialog>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <thread>

class QLabel;
class QPushButton;
class QTableView;
class QTableWidget;
class QTimer;

namespace evtrak {

class TStationEventsModel;
class UserPrompt;

class TfmStations : public QDialog
{
    Q_OBJECT
public:
    // prefs: the live settings (broker, prefix, this station's name, input colours);
    // logDir: the program's Log folder (its "stations" folder is the collector's);
    // openFile: opens an event file in the main list the way "Ouvrir" does.
    TfmStations(const TUserPrefs& prefs, const QString& logDir, UserPrompt& prompt,
                std::function<void(const QString&)> openFile, QWidget* parent = nullptr);
    ~TfmStations() override;

    // The station list's columns.
    enum Column
    {
        ColName,
        ColState,
        ColLastEvent,
        ColLastTime,
        ColToday,
        ColFilled,
        ColLost,
        ColInterface,
        ColumnCount
    };

    QTableWidget* stationsTable() const { return m_stations; }
    QTableView* eventsView() const { return m_events; }
    QString brokerText() const;
    // The day file a double-click on the merged list's row opens (empty: none).
    QString DayFileOfEventRow(int row) const;
    // The file opened for the chosen row of whichever list has the focus.
    void OpenSelected();
    // Reads the collector's folders again (asynchronously; the list follows).
    void ScanArchiveNow();

private:
    struct StationInfo
    {
        std::optional<TStationStatus> Status;
        std::optional<TStationEvent> LastLive;
        // The numbers received today since the window opened, as ranges (first -> last):
        // a redelivered or replayed event counts once.
        std::map<std::uint64_t, std::uint64_t> SeqsToday;
        std::uint64_t LiveToday = 0;
        QDate LiveDay;
        void AddSeq(std::uint64_t seq);
    };

    void TakeFromWatch();
    void ArchiveScanned(std::vector<TArchiveStation> scanned);
    void UpdateBrokerText();
    void UpdateStations();
    void PlaceOverParent();
    QString DayFileFor(const QString& station, const QDate& day) const;
    void OpenDayFile(const QString& file);

    const TUserPrefs& m_prefs;
    const QString m_logDir;
    const QString m_stationsDir;
    const QString m_ownStation;
    UserPrompt& m_prompt;
    std::function<void(const QString&)> m_openFile;
    std::unique_ptr<TMqttWatch> m_watch;
    std::map<QString, StationInfo> m_live;
    std::vector<TArchiveStation> m_archive;
    bool m_archiveFolder = false; // a collector keeps its folders here
    bool m_scanning = false;
    // The scan of the collector's folders runs on a thread of the window's own (not in
    // Qt's global pool, whose threads the raster engine waits for while painting); the
    // window stops and joins it when it closes.
    std::thread m_scanThread;
    std::atomic<bool> m_scanStop{false};

    QLabel* m_lblBroker = nullptr;
    QTableWidget* m_stations = nullptr;
    QTableView* m_events = nullptr;
    TStationEventsModel* m_model = nullptr;
    QPushButton* m_btnOpen = nullptr;
    QTimer* m_scanTimer = nullptr;
    QTimer* m_takeTimer = nullptr;
};

} // namespace evtrak
