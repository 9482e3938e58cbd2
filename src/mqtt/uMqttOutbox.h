#pragma once
// The MQTT outbox: events wait in a file of their own until the broker has
// acknowledged them, so that a broker that is down, a network cut or a restart of the
// program delays them and never drops them.
//
// The file is append-only text, one record a line:
//   EVTRAK-MQTT-OUTBOX 1          first line
//   S <seq>                       every seq up to <seq> was used and acknowledged
//   E <seq> <crc> <payload>       one event message (CRC-16 of the payload, 4 hex digits)
//   A <seq>                       acknowledged up to <seq>
//   N <seq>                       every seq up to <seq> was used (written last by a
//                                 rewrite whose newest records were lost)
// A crash can leave only the last line cut; on opening, that tail is dropped. A damaged
// line elsewhere is skipped and the whole file is first copied to "<file>.damaged", so
// nothing unreadable is lost by the next compaction. The sequence numbers live here
// too: they go on from the last one used, across restarts, compactions and rewrites.
//
// Memory stays bounded whatever the file holds: only the oldest pending records (up to
// the memory window) are kept in memory; the newer ones stay on disk and are read back
// in order by Take() as the older ones leave. The file is read as a stream.
//
// Not thread-safe: the publisher guards every call with its own mutex, except the
// first Read, made before the UI side may touch the outbox at all.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <sys/types.h>
#include <vector>

namespace evtrak {

struct OutboxEntry
{
    std::uint64_t Seq = 0;
    QByteArray Payload;
};

class TMqttOutbox
{
public:
    // A file larger than this is no outbox: it is kept aside at opening, and appends
    // that would make the file grow past it are refused.
    static constexpr qint64 kDefaultMaxBytes = qint64(2) << 30;

    explicit TMqttOutbox(std::size_t memoryWindow = 4096, qint64 maxBytes = kDefaultMaxBytes);
    ~TMqttOutbox();
    TMqttOutbox(const TMqttOutbox&) = delete;
    TMqttOutbox& operator=(const TMqttOutbox&) = delete;

    // Opens (or creates) the file and takes an exclusive lock on it: a second program
    // on the same folder gets false and an error text. A symbolic link or anything but
    // a regular file at that name is refused and left as it is. The unacknowledged
    // entries are then given by Take(), oldest first. What was read is on the disk
    // itself before Open returns. Open is Lock then Read.
    bool Open(const QString& fileName);
    // Takes the file (the lock, the refusals) without reading it.
    bool Lock(const QString& fileName);
    // Reads the taken file as a stream. `cancel`, once set, ends the reading early:
    // false, the file as it was. Closes the outbox when it fails.
    bool Read(const std::atomic<bool>* cancel = nullptr);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    QString ErrorText() const { return m_error; }
    QString FileName() const { return m_fileName; }
    // Something the user should know that did not stop the outbox (a file kept aside,
    // a file rewritten); empty once taken.
    QString TakeNotice();

    // The sequence number the next Append will use (1 for a new file).
    std::uint64_t NextSeq() const { return m_lastSeq + 1; }
    std::uint64_t AckedUpTo() const { return m_acked; }

    // Appends one record per payload, numbered from NextSeq(), in one write; the
    // payloads must not hold a line break. All or nothing: when the disk refuses,
    // false, and the numbers stay unused (NextSeq() is unchanged).
    bool Append(const QByteArray* payloads, std::size_t count);
    // Moves up to `max` of the pending entries not taken yet, numbered up to `upTo`,
    // to the end of `out`, oldest first; those beyond memory are read back from the
    // file. Returns how many were moved.
    std::size_t Take(std::deque<OutboxEntry>& out, std::size_t max, std::uint64_t upTo);
    // Records that everything up to seq was acknowledged; when nothing is left
    // unacknowledged and the file has grown past compactBytes, rewrites it as the
    // header and one "S" line (a whole new file renamed over the old one).
    bool Ack(std::uint64_t seq, qint64 compactBytes = 256 * 1024);

    // The open file against the one at its name: still ours, removed (or another file
    // put in its place), or made shorter than what was written.
    enum class FileState
    {
        Ours,
        Removed,
        Cut
    };
    FileState CheckFile() const;
    // Writes a fresh outbox at the file's name from every pending record still
    // readable through the open file, plus the entries in `held` (taken earlier and
    // not acknowledged yet), and goes on with it; the numbers used so far stay used.
    // Returns false when it could not be written (the old file stays open). `kept`:
    // how many pending records the fresh file holds.
    bool Rewrite(const std::vector<OutboxEntry>& held, std::uint64_t* kept = nullptr);
    // Puts what was written on the disk itself (fdatasync): false when the disk
    // could not confirm it.
    bool Sync();
    // A second descriptor of the open file (-1 if none), to sync it without holding
    // the caller's lock; the caller closes it.
    int DuplicateHandle() const;
    qint64 FileSize() const { return m_size; }

private:
    bool Load(qint64 fileSize, const std::atomic<bool>* cancel);
    bool SetAside(const QString& why);
    bool Compact();
    bool WriteAll(const QByteArray& bytes);
    bool InstallFresh(const QByteArray& tmpPath, int tmpFd, qint64 size);

    const std::size_t m_window;
    const qint64 m_maxBytes;
    QString m_fileName;
    QString m_error;
    QString m_notice;
    int m_fd = -1;
    int m_lockFd = -1;
    qint64 m_size = 0;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    std::uint64_t m_lastSeq = 0;
    std::uint64_t m_acked = 0;
    // The newest record in the file; numbers above it (up to m_lastSeq) have none.
    std::uint64_t m_lastRecord = 0;
    // Pending records not taken yet that are held in memory: the oldest ones, in order.
    std::deque<OutboxEntry> m_mem;
    // Highest number handed out by Take (or acknowledged).
    std::uint64_t m_taken = 0;
    // Newer pending records are on disk only, from this offset on.
    bool m_spilled = false;
    qint64 m_readOffset = 0;
};

} // namespace evtrak
