#pragma once
// The merged list of the last events of all stations: newest on top (by the event's
// own time, so a replayed old event goes to its place), each event once (by station
// and number), bounded.

#include "mqtt/uMqttWatch.h"
#include "settings/uUserPrefs.h"

#include <QAbstractTableModel>
#include <deque>
#include <set>
#include <utility>

namespace evtrak {

// "Entrée 3 [ON]": the label with the state, as the event list shows it.
QString StationEventLabel(const TStationEvent& e);
// "dd/mm/yyyy hh:nn:ss" of a moment in ms since the epoch, local time.
QString StationEventTime(std::int64_t epochMs);

class TStationEventsModel : public QAbstractTableModel
{
public:
    static constexpr int kMaxRows = 1000;
    enum Column
    {
        ColStation,
        ColLabel,
        ColIndex,
        ColTime,
        ColDuration,
        ColumnCount
    };

    // prefs: the live settings (duration format, input colours); ownStation: this
    // program's station, the only one whose inputs' colours are known here.
    TStationEventsModel(const TUserPrefs& prefs, QString ownStation, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    const TStationEvent& event(int row) const { return m_rows[std::size_t(row)]; }

    // batch: oldest first. An event already shown (a redelivery, a replay) is skipped.
    void Add(const std::deque<TStationEvent>& batch);

private:
    const TUserPrefs& m_prefs;
    const QString m_own;
    std::deque<TStationEvent> m_rows; // newest first
    std::set<std::pair<QString, std::uint64_t>> m_seen;
};

} // namespace evtrak
