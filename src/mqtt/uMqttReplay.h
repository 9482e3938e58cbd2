#pragma once
// The station's replay store: every event message it numbers is also appended to a
// folder of segment files, so that a collector that missed some (a broker's queue limit,
// a crash after the broker's acknowledgement) can ask for them again by number. The
// outbox forgets a message once the broker has it; this store keeps it for a number of
// days.
//
// A segment is named after its first number ("<20 digits>.rpl") and holds one record a
// line, "<seq> <payload>", numbers rising. Segments are only appended to; a new one is
// started at each opening, every hour and past a size, and whole segments are removed
// once their last write is older than the days kept, or when the folder passes its size
// limit (oldest first). A crash can cut the last line of the newest segment: it is cut
// off at the next opening. A line that cannot be read is skipped: its number is then
// reported missing, like the numbers of removed segments.
//
// Not thread-safe; a reading (TReplayCursor) works on its own descriptors and may run
// beside the appends.

#include "mqtt/uMqttOutbox.h"

#include <QString>
#include <cstdint>
#include <utility>
#include <vector>

namespace evtrak {

struct ReplaySegment
{
    std::uint64_t First = 0;
    QString Path;
};

class TReplayStore
{
public:
    // days <= 0: nothing is kept (every request is answered as missing).
    TReplayStore(QString folder, int days, qint64 segmentBytes = qint64(64) << 20,
                 qint64 maxBytes = qint64(4) << 30);
    ~TReplayStore();
    TReplayStore(const TReplayStore&) = delete;
    TReplayStore& operator=(const TReplayStore&) = delete;

    // Makes the folder, cuts a torn last line, removes what is too old. False with
    // ErrorText() when the folder cannot be used; the store then keeps nothing.
    bool Open();
    bool IsOpen() const { return m_open; }
    QString ErrorText() const { return m_error; }
    int Days() const { return m_days; }

    // Appends the entries (numbers rising). False when the disk refused them (the
    // error once in ErrorText()).
    bool Append(const OutboxEntry* entries, std::size_t count);
    // A second descriptor of the segment being written (-1 if none), to sync it
    // without holding the caller's lock; the caller closes it.
    int DuplicateHandle() const;
    // The segments, oldest first.
    std::vector<ReplaySegment> Segments() const { return m_segments; }

private:
    bool StartSegment(std::uint64_t first);
    void Prune();

    const QString m_folder;
    const int m_days;
    const qint64 m_segmentBytes;
    const qint64 m_maxBytes;
    bool m_open = false;
    QString m_error;
    std::vector<ReplaySegment> m_segments;
    int m_fd = -1; // the newest segment, when this run writes into it
    qint64 m_size = 0;
    qint64 m_startedMs = 0;
    std::uint64_t m_last = 0; // last number appended by this run
};

// One request being answered: reads the records numbered from..to out of the segments
// a little at a time, and tells which numbers of the range have no record.
class TReplayCursor
{
public:
    TReplayCursor(std::uint64_t from, std::uint64_t to) : m_next(from), m_to(to) {}
    // Up to max records into out; the numbers without a record go to missing as
    // ranges. lastUsed: the station's last number (nothing above it is looked for nor
    // reported). Returns true once the whole range was gone through.
    bool Step(const std::vector<ReplaySegment>& segments, std::uint64_t lastUsed, std::size_t max,
              std::vector<OutboxEntry>& out,
              std::vector<std::pair<std::uint64_t, std::uint64_t>>& missing);

private:
    std::uint64_t m_next;
    std::uint64_t m_to;
    std::uint64_t m_segment = 0; // first number of the segment being read (0: none)
    qint64 m_offset = 0;
};

} // namespace evtrak
