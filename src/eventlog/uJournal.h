#pragma once
// The recovery journal. Every captured event is appended to a small binary file as
// soon as it reaches the list, with a sequence number of its own, so that a kill or a
// power cut loses at most the last second of a capture, whatever the saving options.
// Beside the events the journal says what is durably in which file:
//  - before a per-event append, the file, the offset the lines go to, their length and
//    CRC, and the events they hold (synced before the lines are written);
//  - before a full save's rename, the file, the new content's size and CRC, and the
//    events it holds (synced before the rename);
//  - after a full save, the journal is emptied: every event it held is in a file.
// At start-up the journal left by an interrupted run is read as a stream; an event is
// settled when a record that names it is confirmed by the file as it is now, never by
// comparing the text of lines. What is not settled is offered back, and a torn append
// at the end of a file (a kill in the middle of a write) is cut off.
//
// Record framing, little-endian: 0xE7 0x4A, type (1 byte), payload length (2 bytes),
// payload, CRC-32 of type, length and payload. A record torn by a kill, or damaged,
// fails its check; reading resynchronises on the next whole record.

#include "eventlog/uLog.h"
#include "settings/uUserPrefs.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace evtrak {

class TEventList;

// One captured event as the worker stamped it.
struct JournalEvent
{
    std::int64_t Ms = 0; // milliseconds since the epoch when RecordEvent was called
    std::int32_t InputIndex = 0;
    std::int32_t DurationMs = 0;
    bool Suffix = false;
    bool State = false;
};

// The journal's events as the list takes them, with their local date and time.
std::vector<CapturedEvent> ToCaptured(std::span<const JournalEvent> events);

// What the journal of an interrupted run holds that no file does.
struct JournalFindings
{
    std::vector<JournalEvent> Events; // not settled, in capture order
    std::uint64_t LastSeq = 0;        // the highest event number the journal held
    QString Problem;                  // French: the journal could not be read (kept aside)
    QString CutFile;                  // a file whose torn last append was cut off
};

class TJournal
{
public:
    // A journal beyond this cannot be one (a few months of events without a save).
    static constexpr qint64 kMaxBytes = qint64(1) << 30;
    // Once every event in it is in a file, a journal past this size is emptied.
    static constexpr qint64 kCompactBytes = qint64(4) << 20;

    explicit TJournal(QString path);
    ~TJournal(); // closes; the file stays unless Finish removed it
    TJournal(const TJournal&) = delete;
    TJournal& operator=(const TJournal&) = delete;

    // The journal beside the event files of logDir.
    static QString PathIn(const QString& logDir);
    const QString& Path() const { return m_path; }

    // Start-up, with the Log folder's lock held and before Open: reads the journal an
    // interrupted run left (nothing when there is none). Bounded memory whatever its
    // size; a file that cannot be a journal is moved aside (Problem says where). A torn
    // append at the end of an event file is cut off. The journal itself stays as it is.
    JournalFindings Scan();
    // Recovery of other days' events: writes into the journal found that events up to
    // lastSeq of day (local date) are about to be in file, whose new content has this
    // size and CRC. Synced; false when it could not be written.
    bool NoteRecoverySave(const QString& file, std::uint64_t lastSeq, const QDate& day, qint64 size,
                          std::uint32_t crc);
    // After Scan, declined: the journal found is kept under a name that says so (returned,
    // empty when it could not be moved), never deleted.
    QString KeepAside(const QDateTime& now);

    // Replaces the journal by a fresh one that holds carried (events back in the list,
    // not yet in a file) and opens it for appending. false when it cannot be made; the
    // journal found then stays.
    bool Open(std::span<const JournalEvent> carried = {});
    bool IsOpen() const { return m_fd >= 0; }
    // Why the last Open failed (errno), 0 after a success.
    int OpenError() const { return m_openError; }

    // Journals events (write(), no sync), numbered in order.
    void Append(const JournalEvent* events, std::size_t count);
    // Before the lines of the events of the last Append (count of them) are appended to
    // file at offset: says so, and syncs. The lines must not be written when this fails.
    bool NoteAppend(const QString& file, qint64 offset, qint64 size, std::uint32_t crc,
                    std::size_t count);
    // The append announced by NoteAppend reached the file (or failed).
    void AppendDone(const QString& file, bool ok);
    // Before a full save of the whole list replaces file: every event journaled so far is
    // in the new content (size, CRC). Synced.
    void NoteSave(const QString& file, qint64 size, std::uint32_t crc);
    // Every journaled event is in a file on disk, or was dropped by the user: the files
    // appended to are synced, then the journal is emptied.
    void Settle();
    // fdatasync when something was written since the last one, and of the files appended
    // to; empties a large journal whose events are all in files.
    void Sync();
    // The orderly end: settles, closes and removes the journal.
    void Finish();
    // A write failed since the journal was opened (disk full, file removed...).
    bool WriteFailed() const { return m_writeFailed; }

    // Every event record of a journal file, in file order (tests and tools).
    static std::vector<JournalEvent> ReadEvents(const QString& path);

private:
    bool WriteRecord(unsigned char type, const unsigned char* payload, std::size_t size, bool sync);
    bool WriteBytes(const unsigned char* data, std::size_t size);
    bool SyncAppendedFiles();

    QString m_path;
    int m_fd = -1;
    bool m_dirty = false;
    bool m_writeFailed = false;
    int m_openError = 0;
    qint64 m_size = 0;
    std::uint64_t m_nextSeq = 1;
    std::uint64_t m_batchFirst = 0; // the events of the last Append
    std::size_t m_batchCount = 0;
    std::uint64_t m_settledUpTo = 0; // every event up to it is in a file
    QStringList m_appended;          // files appended to since the last sync of theirs
    std::vector<unsigned char> m_buffer;
};

// CRC-32 (the zlib polynomial), continued from crc (0 to start).
std::uint32_t Crc32Update(std::uint32_t crc, const char* data, std::size_t size);

struct RecoveryResult
{
    int IntoList = 0;     // today's events, back in the list (unsaved)
    int IntoDayFiles = 0; // earlier days' events, merged into their day's files
    QStringList Messages; // French: a day's file that could not take its events
};

// Puts back what Scan found: events of the day of today go into the list (which holds
// today's file), events of other days are merged into their own day's file in logDir
// (the journal noting each save first); an event whose day's file cannot be read or
// written joins the list rather than being lost. Then the journal starts afresh,
// holding the events now in the list. The journal is open afterwards when it could be.
RecoveryResult RecoverEvents(TJournal& journal, const JournalFindings& found, TEventList& list,
                             const TUserPrefs& prefs, const QString& logDir, const QDate& today);

// Brings back the events of a journal kept aside (or any journal file but journal's own)
// that the list does not hold yet (a row of the same second, input, state and duration
// counts as the event): they go into the list at their place by date-time, unsaved, and
// into journal, so that an interruption keeps them. Returns how many; 0 when path holds
// none or is no journal.
int ImportJournal(const QString& path, TJournal& journal, TEventList& list);

} // namespace evtrak
