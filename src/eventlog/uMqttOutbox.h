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
// A crash can leave only the last line cut; on opening, that tail is dropped. A damaged
// line elsewhere is skipped and the whole file is first copied to "<file>.damaged", so
// nothing unreadable is lost by the next compaction. The sequence numbers live here
// too: they go on from the last one used, across restarts and compactions.
// Not thread-safe: the publisher guards it with its own mutex.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace evtrak {

struct OutboxEntry
{
    std::uint64_t Seq = 0;
    QByteArray Payload;
};

class TMqttOutbox
{
public:
    TMqttOutbox() = default;
    ~TMqttOutbox();
    TMqttOutbox(const TMqttOutbox&) = delete;
    TMqttOutbox& operator=(const TMqttOutbox&) = delete;

    // Opens (or creates) the file and takes an exclusive lock on it: a second program
    // on the same folder gets false and an error text. The unacknowledged entries are
    // then in Pending(), oldest first.
    bool Open(const QString& fileName);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    QString ErrorText() const { return m_error; }
    QString FileName() const { return m_fileName; }

    // The sequence number the next Append will use (1 for a new file).
    std::uint64_t NextSeq() const { return m_lastSeq + 1; }
    std::uint64_t AckedUpTo() const { return m_acked; }
    // Entries loaded by Open that were not acknowledged yet; the caller takes them.
    std::deque<OutboxEntry>& Pending() { return m_pending; }

    // Appends one record per payload, numbered from NextSeq(), in one write; the
    // payloads must not hold a line break. Returns false when the disk refused (the
    // numbers are used all the same: the messages still go out from memory).
    bool Append(const QByteArray* payloads, std::size_t count, std::uint64_t* firstSeq);
    // Records that everything up to seq was acknowledged; when nothing is left
    // unacknowledged and the file has grown past compactBytes, rewrites it as the
    // header and one "S" line (a whole new file renamed over the old one).
    bool Ack(std::uint64_t seq, qint64 compactBytes = 256 * 1024);
    // Puts what was written on the disk itself (fdatasync).
    void Sync();
    qint64 FileSize() const { return m_size; }

private:
    bool Load();
    bool Compact();
    bool WriteAll(const QByteArray& bytes);

    QString m_fileName;
    QString m_error;
    int m_fd = -1;
    int m_lockFd = -1;
    qint64 m_size = 0;
    std::uint64_t m_lastSeq = 0;
    std::uint64_t m_acked = 0;
    std::deque<OutboxEntry> m_pending;
};

} // namespace evtrak
