#pragma once
// Which events the list shows while the search bar is open: a label text (case and
// accents ignored), input numbers, a date-time range and ON/OFF. A filter only hides
// rows; the event list and its file are never changed by it.

#include "eventlog/uLog.h"

#include <QSortFilterProxyModel>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace evtrak {

struct EventFilter
{
    enum class State
    {
        Any,
        On, // " [ON]" rows
        Off // " [OFF]" rows and pulses recorded with their length (both end an activation)
    };
    QString Text;                        // part of the label; empty: any label
    QString Inputs;                      // "0, 3, 5-7"; empty: any input
    qint64 FromSeconds = kNoDateSeconds; // as SecondsFromDateTime; kNoDateSeconds: no bound
    qint64 ToSeconds = kNoDateSeconds;
    State StateWanted = State::Any;

    bool IsActive() const;
    // "Filtre : ..." for the report's summary: what the filter asks, in French.
    QString Description() const;
};

// Reads "0, 3, 5-7" into the set of input numbers; false (and out untouched) when the
// text is not such a list. Numbers must lie in 0..maxInput.
bool ParseInputList(const QString& text, std::vector<bool>& out, int maxInput = 255);

// Lower case without accents, for comparing labels as people read them.
QString FoldForSearch(QStringView text);

// A filter prepared for one list: labels are compared once per distinct label.
class EventMatcher
{
public:
    EventMatcher(const TEventList& list, const EventFilter& filter);
    bool matches(int row) const;
    // True when the input list of the filter could be read (an unreadable one matches
    // nothing, so the user sees at once that it is wrong).
    bool inputsValid() const { return m_inputsValid; }

private:
    bool labelMatches(std::uint32_t id) const;

    const TEventList& m_list;
    EventFilter m_filter;
    QString m_needle; // folded
    std::vector<bool> m_inputs;
    bool m_inputsValid = true;
    mutable std::vector<std::int8_t> m_labelCache; // -1 unknown, 0 no, 1 yes
};

// The rows of list that filter shows, top to bottom.
std::vector<int> FilterRows(const TEventList& list, const EventFilter& filter);

// The list as the window shows it while a filter is set. Follows the list's inserted,
// removed and edited rows.
class TEventFilterProxy : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit TEventFilterProxy(TEventList& list, QObject* parent = nullptr);
    void setFilter(const EventFilter& filter);
    const EventFilter& filter() const { return m_filter; }
    TEventList& list() const { return m_list; }
    // The list rows shown, top to bottom.
    std::vector<int> shownRows() const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    TEventList& m_list;
    EventFilter m_filter;
    std::unique_ptr<EventMatcher> m_matcher;
};

// The event nearest to a date-time among rows (list rows, any order); -1 when none has
// a date. Ties go to the first one met.
int NearestEventRow(const TEventList& list, const std::vector<int>& rows, qint64 seconds);

} // namespace evtrak
