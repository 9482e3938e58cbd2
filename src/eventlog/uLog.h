#pragma once
// The event list: the only store of events. A table model of four text columns
// (label, input index "TS", date-time, duration), newest captured event on top. It holds
// data only: which rows are selected belongs to the views, the banner to the window.

#include "eventlog/uDateTexts.h"
#include "eventlog/uEventLine.h"
#include "settings/uUserPrefs.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace evtrak {

// One event on its way into the list.
struct EventRecord
{
    QString Label;
    std::int32_t InputIndex = 0;
    TDateTime DateTime = 0.0;
    std::int32_t DurationMs = 0;
};

// One event emitted by the capture engine (a RecordEvent call), stamped when emitted.
struct CapturedEvent
{
    bool Suffix = false; // " [ON]" / " [OFF]" after the label
    bool State = false;  // the new logical state (chooses ON or OFF)
    std::int32_t InputIndex = 0;
    std::int32_t DurationMs = 0;
    TDateTime DateTime = 0.0; // local clock when RecordEvent was called
    std::int64_t EpochMs = 0; // the same moment, milliseconds since the epoch
};

class TEventList : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        ColLabel = 0,
        ColIndex = 1,
        ColDateTime = 2,
        ColDuration = 3
    };

    // prefs is the live settings record; it must outlive the list. Labels, colours,
    // the duration format and the column captions are read from it when needed.
    explicit TEventList(const TUserPrefs& prefs, QObject* parent = nullptr);
    ~TEventList() override;

    // QAbstractTableModel. Column 0 is editable: a label with ';', CR or LF is refused.
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation o, int role = Qt::DisplayRole) const override;

    // The text of one cell, exactly as shown and saved.
    QString text(int row, int column) const;
    // The event-file line of a row: the four texts joined by ';' (no line end). A row
    // whose duration shows no text (a duration format out of range) keeps its value in
    // the file, in ms, so that the file reads back with the same rows.
    QString fileLine(int row) const;
    // Appends the event-file lines of rows [first, first + count) to out: Windows-1252
    // bytes (UTF-8 for a label the code page cannot hold), each line ended by CR LF,
    // with the kept lines in their places (those after the last row when first + count
    // reaches it). Rows outside the list are skipped.
    void AppendFileBytes(QByteArray& out, int first, int count) const;

    // Lines of the loaded file that are not events (in file order). Replaced by each
    // load; cleared with the rows by NewEventFile; deleting rows keeps them in place.
    void SetKeptLines(std::vector<KeptLine> lines);
    const std::vector<KeptLine>& KeptLines() const;

    // The rows holding the earliest and the latest date-time (-1 when no row has one; a
    // date that could not be read is none),
    // among the given rows, or among all rows when rows is null.
    std::pair<int, int> DateTimeRange(const std::vector<int>* rows = nullptr) const;

    // Puts one event into the list: at row 0 when top, else after the last row.
    // Tells lastEventChanged. Changes neither flag nor counters.
    void AddEvent(const EventRecord& rec, bool suffix, bool state, bool top);
    // Appends many loaded events at the bottom in one insertion (file load).
    void AppendEvents(std::span<const EventRecord> recs);

    // The capture's entry point, on the UI thread: counts, stamps, inserts at the top,
    // calls the append hook with the new row's file line when LogSaveAutoOnNewEvent is
    // on, tells lastEventChanged and sets the modified flag unless the row went to disk.
    void RecordEvent(const CapturedEvent& ev);
    // The same for a batch in emission order: one insertion, the hook called once with
    // every line in emission order, lastEventChanged told once (the last event).
    void RecordEvents(std::span<const CapturedEvent> evs);
    // Puts events back at their place by date-time (the list being newest first): each
    // goes above the first row older than it; kept lines stay above the rows they were
    // above. Sets the modified flag; counters stay.
    void InsertEvents(std::span<const CapturedEvent> evs);
    // Called with the file lines of recorded events, oldest first, when
    // LogSaveAutoOnNewEvent is on. Returns true when they were written: the list then
    // stays unmodified when it was before (every row is on disk), otherwise it is
    // modified, as for every captured event without per-event saving.
    // Installed by the saving policy only.
    using AppendHook = std::function<bool(const QStringList& lines)>;
    void setAppendHook(AppendHook hook);

    // Deletes the given rows (any order; repeats and rows outside the list are ignored);
    // sets the modified flag when at least one went. Returns the number of rows deleted.
    int DeleteRows(std::vector<int> rows);
    // Deletes all rows and sets the modified flag; counters stay.
    void ClearEvents();
    // Whether rows exist (the UI shows "Aucun évenement à traiter !" when not).
    bool RequireEvents() const;
    // Re-renders every duration text in the current LogDurationFormat (when reformat
    // is true), then sets the modified flag.
    void ReformatDurations(bool reformat);

    void SetModified(bool modified);
    bool Modified() const;

    // Counters: events recorded since the capture start / since the program start.
    std::int32_t CaptureCount() const;
    std::int32_t TotalCount() const;
    void ResetCaptureCount();

    // What the filter and the statistics read of a row, without making its texts.
    using RowSuffix = EventSuffix;
    using enum EventSuffix;
    struct RowFacts
    {
        std::uint32_t LabelId = 0; // into labelText; one id per distinct label
        std::int32_t Input = 0;
        qint64 Seconds = kNoDateSeconds; // as SecondsFromDateTime
        std::int32_t DurationMs = 0;
        RowSuffix Suffix = NoSuffix;
        // Read from an event file, where a state is stored as " [ON]"/" [OFF]" at the
        // end of the label; rows captured or edited here keep it in Suffix only.
        bool StateInLabel = false;
        // The milliseconds the date-time drops, for rows captured here (the capture and
        // the journal know them); -1 for rows read from a file, which holds seconds only.
        int Ms = -1;
    };
    RowFacts rowFacts(int row) const;
    // The label (without suffix) of an id; ids only grow and keep their text.
    const QString& labelText(std::uint32_t id) const;

    // Bytes of memory used by the rows (for the benchmark).
    std::size_t MemoryUsage() const;

Q_SIGNALS:
    void modifiedChanged(bool modified);
    void countersChanged();
    // The latest event put into the list (the last of a batch or of a load): its label
    // without the state suffix, and its input.
    void lastEventChanged(const QString& label, std::int32_t input);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace evtrak
