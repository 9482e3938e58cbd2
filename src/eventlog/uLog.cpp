#include "eventlog/uLog.h"

#include "base/ktMisc.h"
#include "base/uLabelText.h"

#include <QHash>
#include <algorithm>
#include <array>
#include <deque>
#include <vector>

namespace evtrak {

namespace {

// One row in compact form; its four texts are derived from it on demand. Labels are
// shared through a table of distinct texts.
struct Row
{
    qint64 Seconds;        // since 30/12/1899 00:00:00, or kNoDateSeconds (empty text)
    std::int32_t Index;    // input index
    std::int32_t Duration; // ms
    std::uint32_t Label;   // into Impl::Labels
    std::uint8_t Suffix;   // an EventSuffix
    std::int8_t Format;    // duration format the text was made with; kEmptyFormat: no text
    // Read from an event file: a state suffix is part of the label.
    std::uint16_t FromFile : 1;
    // The milliseconds the date-time text drops, for captured rows; kNoMs when unknown
    // (a file holds whole seconds).
    std::uint16_t Ms : 15 = 0x7FFF;
};
static_assert(sizeof(Row) <= 24);

constexpr std::uint16_t kNoMs = 0x7FFF;
constexpr std::int8_t kEmptyFormat = 3;
// Above this many separate runs of selected rows, deleting them one run at a time would
// cost more than rebuilding the list.
constexpr int kMaxRemovalRuns = 64;

std::int8_t FormatCode(int format)
{
    return format >= 0 && format <= 2 ? std::int8_t(format) : kEmptyFormat;
}

std::uint16_t CapturedMs(TDateTime when)
{
    const int ms = MillisecondOfDateTime(when);
    return ms < 0 ? kNoMs : std::uint16_t(ms);
}

// The state a file's label ends with (a file stores it as part of the label).
EventSuffix FileSuffix(const QString& label)
{
    if (label.endsWith(SuffixText(OnSuffix)))
        return OnSuffix;
    if (label.endsWith(SuffixText(OffSuffix)))
        return OffSuffix;
    return NoSuffix;
}

} // namespace

struct TEventList::Impl
{
    const TUserPrefs& Prefs;
    std::deque<Row> Rows;
    std::vector<QString> Labels;
    QHash<QString, std::uint32_t> LabelIds;
    mutable std::vector<QByteArray> EncodedLabels; // Windows-1252 bytes, filled lazily
    std::vector<KeptLine> Kept;                    // RowsAfter descending (file order)
    AppendHook Hook;
    bool Modified = false;
    std::uint32_t CaptureCount = 0;
    std::uint32_t TotalCount = 0;

    explicit Impl(const TUserPrefs& prefs) : Prefs(prefs) {}

    // Texts already in the table, by the address of their shared data: a label that is
    // a copy of one in the table is found without hashing it. Entries stay valid while
    // the table holds the texts.
    struct SharedLabel
    {
        const QChar* Data = nullptr;
        qsizetype Size = 0;
        std::uint32_t Id = 0;
    };
    std::array<SharedLabel, 64> SharedLabels{};

    std::uint32_t Intern(const QString& label)
    {
        const auto slot =
            (reinterpret_cast<quintptr>(label.constData()) >> 4) % SharedLabels.size();
        SharedLabel& cached = SharedLabels[slot];
        if (cached.Data == label.constData() && cached.Size == label.size() && !label.isEmpty())
            return cached.Id;
        std::uint32_t id = 0;
        const auto it = LabelIds.constFind(label);
        if (it != LabelIds.cend()) {
            id = it.value();
        } else {
            id = std::uint32_t(Labels.size());
            Labels.push_back(label);
            LabelIds.insert(label, id);
        }
        if (Labels[id].constData() == label.constData())
            cached = SharedLabel{label.constData(), label.size(), id};
        return id;
    }

    Row MakeRow(const QString& label, std::uint8_t suffix, std::int32_t index, TDateTime when,
                std::int32_t duration)
    {
        return Row{SecondsFromDateTime(when),           index, duration, Intern(label), suffix,
                   FormatCode(Prefs.LogDurationFormat), false};
    }

    QString LabelText(const Row& r) const
    {
        if (r.Suffix == NoSuffix)
            return Labels[r.Label];
        return Labels[r.Label] + SuffixText(EventSuffix(r.Suffix));
    }

    const QByteArray& EncodedLabel(std::uint32_t id) const
    {
        if (EncodedLabels.size() <= id)
            EncodedLabels.resize(Labels.size());
        QByteArray& b = EncodedLabels[id];
        if (b.isNull() && !Labels[id].isEmpty())
            b = EncodeLineText(Labels[id]);
        return b;
    }

    void ForgetLabelsIfEmpty()
    {
        if (!Rows.empty())
            return;
        Labels.clear();
        LabelIds.clear();
        SharedLabels.fill(SharedLabel{});
        EncodedLabels.clear();
    }
};

TEventList::TEventList(const TUserPrefs& prefs, QObject* parent)
    : QAbstractTableModel(parent), d(std::make_unique<Impl>(prefs))
{}

TEventList::~TEventList() = default;

int TEventList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(d->Rows.size());
}

int TEventList::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TEventList::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    if (role == Qt::EditRole && index.column() == ColLabel) {
        // The editor gets the label alone: the state suffix is not part of what is typed.
        const Row& r = d->Rows[std::size_t(index.row())];
        QString label = d->Labels[r.Label];
        if (r.FromFile)
            label.chop(QStringView(SuffixText(FileSuffix(label))).size());
        return label;
    }
    return text(index.row(), index.column());
}

bool TEventList::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || index.column() != ColLabel ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    const QString label = value.toString();
    if (!IsValidLabel(label))
        return false;
    Row& r = d->Rows[std::size_t(index.row())];
    // The row keeps its state: a state read from a file's label becomes the row's own,
    // and whatever is typed is label only, " [ON]" at its end included.
    if (r.FromFile)
        r.Suffix = FileSuffix(d->Labels[r.Label]);
    r.Label = d->Intern(label);
    r.FromFile = false;
    Q_EMIT dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    SetModified(true);
    return true;
}

Qt::ItemFlags TEventList::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == ColLabel)
        f |= Qt::ItemIsEditable;
    return f;
}

QVariant TEventList::headerData(int section, Qt::Orientation o, int role) const
{
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kColumnCount)
        return d->Prefs.GridColumnCaption[std::size_t(section)];
    return QAbstractTableModel::headerData(section, o, role);
}

QString TEventList::text(int row, int column) const
{
    if (row < 0 || row >= rowCount())
        return {};
    const Row& r = d->Rows[std::size_t(row)];
    char buf[kDurationTextMaxLength];
    switch (column) {
    case ColLabel:
        return d->LabelText(r);
    case ColIndex:
        return QString::number(r.Index);
    case ColDateTime:
        return QString::fromLatin1(buf, WriteDateTimeText(r.Seconds, buf));
    case ColDuration:
        return QString::fromLatin1(buf, WriteDurationText(r.Duration, r.Format, buf));
    default:
        return {};
    }
}

TEventList::RowFacts TEventList::rowFacts(int row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    const Row& r = d->Rows[std::size_t(row)];
    return RowFacts{r.Label,
                    r.Index,
                    r.Seconds,
                    r.Duration,
                    RowSuffix(r.Suffix),
                    r.FromFile != 0,
                    r.Ms == kNoMs ? -1 : int(r.Ms)};
}

const QString& TEventList::labelText(std::uint32_t id) const
{
    static const QString none;
    return id < d->Labels.size() ? d->Labels[id] : none;
}

QString TEventList::fileLine(int row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    const Row& r = d->Rows[std::size_t(row)];
    return EventLineText(d->Labels[r.Label], EventSuffix(r.Suffix), r.Index, r.Seconds, r.Duration,
                         r.Format);
}

void TEventList::AppendFileBytes(QByteArray& out, int first, int count) const
{
    EventLineWriter line;
    AppendRowsWithKept(out, rowCount(), first, first + std::max(count, 0), d->Kept, [&](int i) {
        const Row& r = d->Rows[std::size_t(i)];
        line.Append(out, d->EncodedLabel(r.Label), EventSuffix(r.Suffix), r.Index, r.Seconds,
                    r.Duration, r.Format);
    });
}

void TEventList::SetKeptLines(std::vector<KeptLine> lines)
{
    d->Kept = std::move(lines);
}

const std::vector<KeptLine>& TEventList::KeptLines() const
{
    return d->Kept;
}

std::pair<int, int> TEventList::DateTimeRange(const std::vector<int>* rows) const
{
    int oldest = -1;
    int newest = -1;
    for (int k = 0, n = rows ? int(rows->size()) : rowCount(); k < n; ++k) {
        const int i = rows ? (*rows)[std::size_t(k)] : k;
        const qint64 s = d->Rows[std::size_t(i)].Seconds;
        if (s == kNoDateSeconds || s == kUnreadDateSeconds)
            continue;
        // Among equal date-times the lower row is the older (newest rows are on top).
        if (oldest < 0 || s <= d->Rows[std::size_t(oldest)].Seconds)
            oldest = i;
        if (newest < 0 || s > d->Rows[std::size_t(newest)].Seconds)
            newest = i;
    }
    return {oldest, newest};
}

void TEventList::AddEvent(const EventRecord& rec, bool suffix, bool state, bool top)
{
    const std::uint8_t s = MakeSuffix(suffix, state);
    const Row row = d->MakeRow(rec.Label, s, rec.InputIndex, rec.DateTime, rec.DurationMs);
    if (top) {
        beginInsertRows({}, 0, 0);
        d->Rows.push_front(row);
    } else {
        const int n = rowCount();
        beginInsertRows({}, n, n);
        d->Rows.push_back(row);
    }
    endInsertRows();
    Q_EMIT lastEventChanged(rec.Label, rec.InputIndex);
}

void TEventList::AppendEvents(std::span<const EventRecord> recs)
{
    if (recs.empty())
        return;
    const int n = rowCount();
    beginInsertRows({}, n, n + int(recs.size()) - 1);
    for (const EventRecord& rec : recs) {
        d->Rows.push_back(
            d->MakeRow(rec.Label, NoSuffix, rec.InputIndex, rec.DateTime, rec.DurationMs));
        d->Rows.back().FromFile = true;
    }
    endInsertRows();
    const EventRecord& last = recs.back();
    Q_EMIT lastEventChanged(last.Label, last.InputIndex);
}

void TEventList::RecordEvent(const CapturedEvent& ev)
{
    RecordEvents(std::span<const CapturedEvent>(&ev, 1));
}

void TEventList::RecordEvents(std::span<const CapturedEvent> evs)
{
    if (evs.empty())
        return;
    d->CaptureCount += std::uint32_t(evs.size());
    d->TotalCount += std::uint32_t(evs.size());
    // The newest event goes on top: the batch lands in reverse emission order.
    beginInsertRows({}, 0, int(evs.size()) - 1);
    for (const CapturedEvent& ev : evs) {
        const std::uint8_t s = MakeSuffix(ev.Suffix, ev.State);
        d->Rows.push_front(d->MakeRow(GetInputPrefs(d->Prefs, ev.InputIndex).Label, s,
                                      ev.InputIndex, ev.DateTime, ev.DurationMs));
        d->Rows.front().Ms = CapturedMs(ev.DateTime);
    }
    endInsertRows();
    // The new rows are on disk only when they were appended to a file that already held
    // every other row (the list was not modified before).
    bool onDisk = false;
    if (d->Prefs.LogSaveAutoOnNewEvent && d->Hook) {
        const bool wasModified = Modified();
        QStringList lines;
        lines.reserve(qsizetype(evs.size()));
        for (int row = int(evs.size()) - 1; row >= 0; --row)
            lines << fileLine(row);
        onDisk = d->Hook(lines) && !wasModified;
    }
    const std::int32_t lastInput = evs.back().InputIndex;
    Q_EMIT lastEventChanged(GetInputPrefs(d->Prefs, lastInput).Label, lastInput);
    Q_EMIT countersChanged();
    SetModified(!onDisk);
}

void TEventList::InsertEvents(std::span<const CapturedEvent> evs)
{
    if (evs.empty())
        return;
    std::vector<Row> add;
    add.reserve(evs.size());
    for (const CapturedEvent& ev : evs) {
        add.push_back(d->MakeRow(GetInputPrefs(d->Prefs, ev.InputIndex).Label,
                                 MakeSuffix(ev.Suffix, ev.State), ev.InputIndex, ev.DateTime,
                                 ev.DurationMs));
        add.back().Ms = CapturedMs(ev.DateTime);
    }
    beginResetModel();
    d->Rows = MergeNewestFirst(
        d->Rows, std::move(add), [](const Row& r) { return r.Seconds; }, d->Kept);
    endResetModel();
    SetModified(true);
}

void TEventList::setAppendHook(AppendHook hook)
{
    d->Hook = std::move(hook);
}

int TEventList::DeleteRows(std::vector<int> rows)
{
    // The rows as sorted, merged runs [first, last].
    std::sort(rows.begin(), rows.end());
    std::vector<std::pair<int, int>> merged;
    for (const int r : rows) {
        if (r < 0 || r >= rowCount())
            continue;
        if (!merged.empty() && r <= merged.back().second + 1)
            merged.back().second = std::max(merged.back().second, r);
        else
            merged.emplace_back(r, r);
    }
    if (merged.empty())
        return 0;
    // A kept line stays before the rows that followed it: it loses those deleted below it.
    const int rowsBefore = rowCount();
    for (KeptLine& k : d->Kept) {
        const int firstBelow = rowsBefore - k.RowsAfter;
        for (const auto& r : merged)
            if (r.second >= firstBelow)
                k.RowsAfter -= r.second - std::max(r.first, firstBelow) + 1;
    }
    int removed = 0;
    if (merged.size() <= std::size_t(kMaxRemovalRuns)) {
        // From the last run to the first, so the runs still to go keep their rows.
        for (auto it = merged.rbegin(); it != merged.rend(); ++it) {
            beginRemoveRows({}, it->first, it->second);
            d->Rows.erase(d->Rows.begin() + it->first, d->Rows.begin() + it->second + 1);
            endRemoveRows();
            removed += it->second - it->first + 1;
        }
    } else {
        beginResetModel();
        std::deque<Row> kept;
        std::size_t next = 0;
        for (const auto& r : merged) {
            for (; next < std::size_t(r.first); ++next)
                kept.push_back(d->Rows[next]);
            next = std::size_t(r.second) + 1;
            removed += r.second - r.first + 1;
        }
        for (; next < d->Rows.size(); ++next)
            kept.push_back(d->Rows[next]);
        d->Rows.swap(kept);
        endResetModel();
    }
    if (removed > 0)
        SetModified(true);
    return removed;
}

void TEventList::ClearEvents()
{
    if (!d->Rows.empty()) {
        beginRemoveRows({}, 0, rowCount() - 1);
        d->Rows.clear();
        d->ForgetLabelsIfEmpty();
        endRemoveRows();
    }
    for (KeptLine& k : d->Kept)
        k.RowsAfter = 0;
    SetModified(true);
}

bool TEventList::RequireEvents() const
{
    return !d->Rows.empty();
}

void TEventList::ReformatDurations(bool reformat)
{
    if (reformat && !d->Rows.empty()) {
        const std::int8_t format = FormatCode(d->Prefs.LogDurationFormat);
        // Every row keeps its value, also one shown without text (a duration format
        // out of range): that value is in its file line too.
        for (Row& r : d->Rows)
            r.Format = format;
        Q_EMIT dataChanged(index(0, ColDuration), index(rowCount() - 1, ColDuration),
                           {Qt::DisplayRole, Qt::EditRole});
    }
    SetModified(true);
}

void TEventList::SetModified(bool modified)
{
    if (d->Modified == modified)
        return;
    d->Modified = modified;
    Q_EMIT modifiedChanged(modified);
}

bool TEventList::Modified() const
{
    return d->Modified;
}

std::int32_t TEventList::CaptureCount() const
{
    return std::int32_t(d->CaptureCount);
}

std::int32_t TEventList::TotalCount() const
{
    return std::int32_t(d->TotalCount);
}

void TEventList::ResetCaptureCount()
{
    d->CaptureCount = 0;
    Q_EMIT countersChanged();
}

std::size_t TEventList::MemoryUsage() const
{
    // Deque blocks hold the rows; the label table is shared by all of them.
    std::size_t bytes = d->Rows.size() * sizeof(Row);
    bytes += (d->Rows.size() / (512 / sizeof(Row)) + 1) * sizeof(void*);
    for (const QString& l : d->Labels)
        bytes +=
            sizeof(QString) + std::size_t(l.capacity()) * sizeof(QChar) + sizeof(std::uint32_t) * 2;
    return bytes;
}

} // namespace evtrak
