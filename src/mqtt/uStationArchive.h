#pragma once
// What a collector running on this machine keeps per station under
// Log/stations/<station>/: its record (collect.state: what is durable, the gaps
// pending, filled and lost) and the day files. Read for the Stations window, off the
// UI thread: a day file is counted from where the previous count stopped.

#include "eventlog/uLog.h"

#include <QDate>
#include <QString>
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

namespace evtrak {

// A run of sequence numbers, From to To included.
struct TSeqRange
{
    std::uint64_t From = 0;
    std::uint64_t To = 0;
};
// "a-b,c,d-e" and back; parts that are not a run of numbers from 1 up are ignored.
std::vector<TSeqRange> ParseSeqRanges(const QString& text);
QString SeqRangesText(const std::vector<TSeqRange>& ranges);

// collect.state: UTF-8 "key=value" lines, written by the collector alone (this is its one
// reader). Unknown keys and bad values are ignored.
struct TCollectState
{
    bool Present = false;
    std::uint64_t Contiguous = 0; // every seq up to here is on disk
    std::uint64_t LastSeq = 0;
    std::int64_t LastEpochMs = 0;
    std::uint64_t Filled = 0;    // events obtained by replay
    std::uint64_t LostCount = 0; // events the station no longer held
    QString Gaps;                // pending, "a-b,c-d"
    QString Lost;                // given up, "a-b,..."
    QString Received;            // above Contiguous, already on disk
    std::uint64_t Batch = 0;     // the collector's last write batch
    QString Status;              // the station's last status message
};
TCollectState ParseCollectState(const QByteArray& text);
TCollectState ReadCollectState(const QString& file);

// The events counted in one day file so far.
struct TDayFileCount
{
    QString File;
    std::uint64_t Inode = 0;
    qint64 Offset = 0; // bytes read, up to the end of the last whole line
    std::uint64_t Count = 0;
    std::optional<EventRecord> Last; // the last event of the file
};
// Counts what the file gained since the last call; a file replaced, cut or gone is
// counted again from its start. Only a regular file is read, sliceBytes at a time; a
// raised stop flag ends the count between two slices (the count is then partial).
constexpr qint64 kDayFileSliceBytes = qint64(4) << 20;
void CountDayFile(TDayFileCount& count, int currentYear, qint64 sliceBytes = kDayFileSliceBytes,
                  const std::atomic<bool>* stop = nullptr);

struct TArchiveStation
{
    QString Name;
    QString Dir; // ending with '/'
    TCollectState State;
    TDayFileCount Today;
};

// Whether a station's name can be a folder of its own: never "." or "..", a hidden
// name, a separator or a control character.
bool IsSafeStationFolder(const QString& station);

// The day file of a station for a date: "<stationsDir><station>/yyyy_mm_dd.txt".
QString StationDayFile(const QString& stationsDir, const QString& station, const QDate& day);

// Every station folder under stationsDir (ending with '/'), with its record and
// today's count, going on from the counts of a previous scan. Names sorted. A raised
// stop flag cuts the scan short; its result is then partial and meant to be dropped.
std::vector<TArchiveStation> ScanArchive(const QString& stationsDir, const QDate& today,
                                         std::vector<TArchiveStation> previous,
                                         const std::atomic<bool>* stop = nullptr);

} // namespace evtrak
