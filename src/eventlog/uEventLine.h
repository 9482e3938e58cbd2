#pragma once
// One event as a line of an event file: four fields joined by ';' (the label with its
// state suffix, the input index, the date-time, the duration). The list, the journal's
// recovery and whoever prints captured events make their lines here, with the same
// bytes.

#include "eventlog/uDateTexts.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace evtrak {

// The state an event carries after its label.
enum EventSuffix : std::uint8_t
{
    NoSuffix = 0, // a pulse recorded with its length
    OnSuffix = 1, // " [ON]"
    OffSuffix = 2 // " [OFF]"
};
// " [ON]", " [OFF]" or nothing.
QStringView SuffixText(EventSuffix suffix);
inline EventSuffix MakeSuffix(bool hasSuffix, bool state)
{
    return hasSuffix ? (state ? OnSuffix : OffSuffix) : NoSuffix;
}

// A line of a loaded event file that is not an event, kept byte for byte (without its
// line end) so that saving the list writes it back in its place: before the list's last
// RowsAfter rows. Counted from the bottom, because captured rows go on top.
struct KeptLine
{
    QByteArray Bytes;
    int RowsAfter = 0;
};

// The line of one event, without line end. durationFormat is a LogDurationFormat; one
// out of range (whose duration the list shows without text) writes the value in ms, so
// that the file reads back with the same rows.
QString EventLineText(QStringView label, EventSuffix suffix, std::int32_t input, qint64 seconds,
                      std::int32_t durationMs, int durationFormat);

// Writes event lines as bytes, each ended by CR LF: the label as given (already encoded,
// Windows-1252 or UTF-8), the rest as EventLineText. Lines of one day share the date
// part of their text: it is made once per day.
class EventLineWriter
{
public:
    void Append(QByteArray& out, QByteArrayView label, EventSuffix suffix, std::int32_t input,
                qint64 seconds, std::int32_t durationMs, int durationFormat);

private:
    qint64 m_day = std::numeric_limits<qint64>::min();
    char m_date[kDateTimeTextLength] = {};
};

// Writes rows [first, end) of rows lines newest first, with the kept lines in their
// places (those after the last row when end reaches it): writeRow(i) appends row i.
// kept is in file order (RowsAfter descending).
template <class WriteRow>
void AppendRowsWithKept(QByteArray& out, int rows, int first, int end,
                        const std::vector<KeptLine>& kept, WriteRow&& writeRow)
{
    end = std::min(rows, end);
    first = std::max(first, 0);
    // Kept lines go before the row that follows them in the file; those with RowsAfter
    // above rows - first were written with earlier rows.
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
    for (int i = first; i < end; ++i) {
        writeKept(rows - i);
        writeRow(i);
    }
    if (end == rows && first <= rows)
        writeKept(0);
}

// Puts added rows into rows kept newest first, by seconds(row): each goes above the
// first row older than it. Added rows come in emission order: those of one second end
// up in reverse emission order, as the capture puts them on top. Each kept line stays
// just above the row it was above (lines after the last row stay last).
template <class Rows, class Added, class Seconds>
Rows MergeNewestFirst(const Rows& rows, Added added, Seconds seconds, std::vector<KeptLine>& kept)
{
    std::reverse(added.begin(), added.end());
    std::stable_sort(added.begin(), added.end(),
                     [&](const auto& a, const auto& b) { return seconds(a) > seconds(b); });
    Rows merged;
    std::vector<int> newIndex; // of each row, when lines are kept
    if (!kept.empty())
        newIndex.reserve(rows.size());
    std::size_t j = 0;
    for (const auto& r : rows) {
        while (j < added.size() && seconds(added[j]) > seconds(r))
            merged.push_back(added[j++]);
        if (!kept.empty())
            newIndex.push_back(int(merged.size()));
        merged.push_back(r);
    }
    merged.insert(merged.end(), added.begin() + std::ptrdiff_t(j), added.end());
    const int before = int(rows.size()), after = int(merged.size());
    for (KeptLine& k : kept)
        if (k.RowsAfter > 0 && k.RowsAfter <= before)
            k.RowsAfter = after - newIndex[std::size_t(before - k.RowsAfter)];
    return merged;
}

} // namespace evtrak
