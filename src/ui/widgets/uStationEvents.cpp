#include "ui/widgets/uStationEvents.h"

#include "eventlog/uDateTexts.h"

#include <QColor>
#include <QDateTime>
#include <algorithm>
#include <vector>

namespace evtrak {

namespace {

// A stored colour as Qt's, when it is a plain one; desktop colours stay the view's.
QVariant PlainColor(TColor c)
{
    if (c < 0)
        return {};
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

} // namespace

QString StationEventLabel(const TStationEvent& e)
{
    return e.Label + (e.State == 1   ? QStringLiteral(" [ON]")
                      : e.State == 0 ? QStringLiteral(" [OFF]")
                                     : QString());
}

QString StationEventTime(std::int64_t epochMs)
{
    return FormatEventDateTime(DateTimeFromQt(QDateTime::fromMSecsSinceEpoch(epochMs)));
}

TStationEventsModel::TStationEventsModel(const TUserPrefs& prefs, QString ownStation,
                                         QObject* parent)
    : QAbstractTableModel(parent), m_prefs(prefs), m_own(std::move(ownStation))
{}

int TStationEventsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TStationEventsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TStationEventsModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (o != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const captions[] = {"Poste", "Libellé", "TS", "Date et heure", "Durée"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(captions[section])
                                                 : QVariant();
}

QVariant TStationEventsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TStationEvent& e = event(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case ColStation:
            return e.Station;
        case ColLabel:
            return StationEventLabel(e);
        case ColIndex:
            return e.Input;
        case ColTime:
            return StationEventTime(e.EpochMs);
        case ColDuration:
            return FormatDurationMs(e.DurationMs, m_prefs.LogDurationFormat);
        }
        return {};
    case Qt::ForegroundRole:
    case Qt::BackgroundRole:
        // Only this station's inputs are known here: another station may give the
        // same input another meaning and other colours.
        if (e.Station != m_own || !m_prefs.LogUseColors || e.Input < 0 || e.Input >= kInputCount)
            return {};
        return PlainColor(role == Qt::ForegroundRole
                              ? m_prefs.Inputs[std::size_t(e.Input)].TextColor
                              : m_prefs.Inputs[std::size_t(e.Input)].BGColor);
    default:
        return {};
    }
}

void TStationEventsModel::Add(const std::deque<TStationEvent>& batch)
{
    std::vector<TStationEvent> fresh;
    for (const TStationEvent& e : batch)
        if (m_seen.insert({e.Station, e.Seq}).second)
            fresh.push_back(e);
    if (fresh.empty())
        return;
    std::stable_sort(fresh.begin(), fresh.end(),
                     [](const auto& a, const auto& b) { return a.EpochMs > b.EpochMs; });
    if (m_rows.empty() || fresh.back().EpochMs >= m_rows.front().EpochMs) {
        // The usual case: everything is newer than the top row.
        const int n = int(std::min<std::size_t>(fresh.size(), kMaxRows));
        for (std::size_t i = std::size_t(n); i < fresh.size(); ++i)
            m_seen.erase({fresh[i].Station, fresh[i].Seq}); // too old to be shown
        beginInsertRows({}, 0, n - 1);
        for (int i = n - 1; i >= 0; --i)
            m_rows.push_front(std::move(fresh[std::size_t(i)]));
        endInsertRows();
    } else {
        // Older events among them (a replay): each goes to its place by time.
        beginResetModel();
        for (TStationEvent& e : fresh) {
            auto at = std::upper_bound(
                m_rows.begin(), m_rows.end(), e.EpochMs,
                [](std::int64_t t, const TStationEvent& r) { return t > r.EpochMs; });
            m_rows.insert(at, std::move(e));
        }
        endResetModel();
    }
    if (m_rows.size() > std::size_t(kMaxRows)) {
        beginRemoveRows({}, kMaxRows, int(m_rows.size()) - 1);
        while (m_rows.size() > std::size_t(kMaxRows)) {
            m_seen.erase({m_rows.back().Station, m_rows.back().Seq});
            m_rows.pop_back();
        }
        endRemoveRows();
    }
}

} // namespace evtrak
