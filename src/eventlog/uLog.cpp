#include "eventlog/uLog.h"

#include "base/ktMisc.h"
#include "base/uLabelText.h"

#include <QHash>
#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <deque>
#include <limits>
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
    std::uint8_t Suffix;   // SuffixNone, SuffixOn, SuffixOff
    std::int8_t Format;    // duration format the text was made with; kEmptyFormat: no text
    bool FromFile;         // read from an event file: a state suffix is part of the label
};
static_assert(sizeof(Row) <= 24);

enum : std::uint8_t
{
    SuffixNone = 0,
    SuffixOn = 1,
    SuffixOff = 2
};
constexpr std::int8_t kEmptyFormat = 3;
// Above this many separate runs of selected rows, deleting them one run at a time would
// cost more than rebuilding the list.
constexpr int kMaxRemovalRuns = 64;

std::int8_t FormatCode(int format)
{
    return format >= 0 && format <= 2 ? std::int8_t(format) : kEmptyFormat;
}

// The duration format of a row's file line: a duration shown without text is written in
// ms, so the value is not lost.
std::int8_t FileFormat(std::int8_t format)
{
    return format == kEmptyFormat ? std::int8_t(0) : format;
}

const char16_t* SuffixText(std::uint8_t s)
{
    return s == SuffixOn ? u" [ON]" : s == SuffixOff ? u" [OFF]" : u"";
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
        if (r.Suffix == SuffixNone)
            return Labels[r.Label];
        return Labels[r.Label] + QStringView(SuffixText(r.Suffix));
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
    if (role == Qt::EditRole && index.column() == ColLabel)
        return d->LabelText(d->Rows[std::size_t(index.row())]);
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
    r.Label = d->Intern(label);
    r.Suffix = SuffixNone;
    r.FromFile = false; // a typed label never carries a state
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
    return RowFacts{r.Label, r.Index, r.Seconds, r.Duration, RowSuffix(r.Suffix), r.FromFile};
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
    char buf[kDurationTextMaxLength];
    const QString duration =
        QString::fromLatin1(buf, WriteDurationText(r.Duration, FileFormat(r.Format), buf));
    return text(row, ColLabel) + u';' + text(row, ColIndex) + u';' + text(row, ColDateTime) + u';' +
           duration;
}

void TEventList::AppendFileBytes(QByteArray& out, int first, int count) const
{
    const int rows = rowCount();
    const int end = std::min(rows, first + std::max(count, 0));
    first = std::max(first, 0);
    // Kept lines go before the row that follows them in the file; those with RowsAfter
    // above rows - first were written with earlier rows.
    const std::vector<KeptLine>& kept = d->Kept;
    std::size_t k = 0;
    if (first > 0)
        while (k < kept.size() && kept[k].RowsAfter > rows - first)
            ++k;
    const auto writeKept = [&](int rowsAfter) {
        for (; k < kept.size() && kept[k].RowsAfter >= rowsAfter; ++k) {
            out += kept[k].Bytes;
            out += "\r\n";
        }
    };
    // Rows of one day share the date part of their text: make it once per day.
    qint64 day = std::numeric_limits<qint64>::min();
    char date[kDateTimeTextLength];
    char buf[128];
    for (int i = first; i < end; ++i) {
        writeKept(rows - i);
        const Row& r = d->Rows[std::size_t(i)];
        const QByteArray& label = d->EncodedLabel(r.Label);
        char* p = buf;
        if (label.size() <= 48) {
            std::memcpy(p, label.constData(), std::size_t(label.size()));
            p += label.size();
        } else {
            out += label;
        }
        if (r.Suffix == SuffixOn)
            p = std::copy_n(" [ON]", 5, p);
        else if (r.Suffix == SuffixOff)
            p = std::copy_n(" [OFF]", 6, p);
        *p++ = ';';
        p = std::to_chars(p, buf + sizeof buf, r.Index).ptr;
        *p++ = ';';
        if (r.Seconds != kNoDateSeconds) {
            const qint64 sod = ((r.Seconds % 86400) + 86400) % 86400;
            if (r.Seconds - sod != day) {
                day = r.Seconds - sod;
                WriteDateTimeText(day, date);
            }
            p = std::copy_n(date, 11, p); // "dd/mm/yyyy "
            const int h = int(sod / 3600), m = int(sod / 60 % 60), sec = int(sod % 60);
            const char hms[8] = {char('0' + h / 10),   char('0' + h % 10),  ':',
                                 char('0' + m / 10),   char('0' + m % 10),  ':',
                                 char('0' + sec / 10), char('0' + sec % 10)};
            p = std::copy_n(hms, 8, p);
        }
        *p++ = ';';
        p += WriteDurationText(r.Duration, FileFormat(r.Format), p);
        *p++ = '\r';
        *p++ = '\n';
        out.append(buf, p - buf);
    }
    if (end == rows && first <= rows)
        writeKept(0);
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
    const std::uint8_t s = suffix ? (state ? SuffixOn : SuffixOff) : SuffixNone;
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
            d->MakeRow(rec.Label, SuffixNone, rec.InputIndex, rec.DateTime, rec.DurationMs));
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
        const std::uint8_t s = ev.Suffix ? (ev.State ? SuffixOn : SuffixOff) : SuffixNone;
        d->Rows.push_front(d->MakeRow(GetInputPrefs(d->Prefs, ev.InputIndex).Label, s,
                                      ev.InputIndex, ev.DateTime, ev.DurationMs));
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
        const std::uint8_t s = ev.Suffix ? (ev.State ? SuffixOn : SuffixOff) : SuffixNone;
        add.push_back(d->MakeRow(GetInputPrefs(d->Prefs, ev.InputIndex).Label, s, ev.InputIndex,
                                 ev.DateTime, ev.DurationMs));
    }
    // Newest first; events of the same second keep their emission order reversed, as
    // the capture puts them.
    std::reverse(add.begin(), add.end());
    std::stable_sort(add.begin(), add.end(),
                     [](const Row& a, const Row& b) { return a.Seconds > b.Seconds; });
    beginResetModel();
    std::deque<Row> merged;
    std::size_t j = 0;
    for (const Row& r : d->Rows) {
        while (j < add.size() && add[j].Seconds > r.Seconds)
            merged.push_back(add[j++]);
        merged.push_back(r);
    }
    merged.insert(merged.end(), add.begin() + std::ptrdiff_t(j), add.end());
    d->Rows.swap(merged);
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
