#pragma once
// The recovery journal. Every captured event is appended to a small binary file as
// soon as it reaches the list, so that a kill or a power cut loses at most the last
// second of a capture, whatever the saving options. The journal is emptied when a full
// save has put the list on disk and removed when the program ends in order; a journal
// found at start-up belongs to a session that did not, and is offered back.
//
// A record is 24 bytes, little-endian: the event's milliseconds since the epoch
// (int64), the input index and the duration in ms (int32 each), a flags word (bit 0:
// " [ON]"/" [OFF]" suffix, bit 1: state) and a CRC-32 of those 20 bytes. A record torn
// by a kill, or damaged, fails its check and is skipped; reading goes on after it.

#include "eventlog/uLog.h"
#include "settings/uUserPrefs.h"

#include <QDateTime>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace evtrak {

// One captured event as the worker stamped it.
struct JournalEvent
{
    std::int64_t Ms = 0; // milliseconds since the epoch when RecordEvent was called
    std::int32_t InputIndex = 0;
    std::int32_t DurationMs = 0;
    bool Suffix = false;
    bool State = false;
};

class TJournal
{
public:
    static constexpr std::size_t kRecordSize = 24;

    explicit TJournal(QString path);
    ~TJournal(); // closes; the file stays unless Finish removed it
    TJournal(const TJournal&) = delete;
    TJournal& operator=(const TJournal&) = delete;

    // The journal beside the event files of logDir.
    static QString PathIn(const QString& logDir);
    const QString& Path() const { return m_path; }
    // Where a journal found at start-up waits until it is put back or set aside.
    QString RecoveryPath() const;

    // Start-up, before Open: moves a journal left by an interrupted session to the
    // recovery file (joining one left there by an interrupted recovery) and returns
    // its events.
    std::vector<JournalEvent> TakeOver();
    // Opens the journal for appending (created when missing). false when it cannot be.
    bool Open();
    bool IsOpen() const { return m_fd >= 0; }
    // Why the last Open failed: its errno (EINVAL: not a regular file).
    int OpenError() const { return m_openError; }
    // Writes the records at once (write(), no sync).
    void Append(const JournalEvent* events, std::size_t count);
    // fdatasync when something was written since the last one.
    void Sync();
    // Everything journaled is in an event file on disk: empties the journal.
    void Clear();
    // The orderly end: closes and removes the journal.
    void Finish();
    // After TakeOver: these events are back in the list (unsaved): they join the live
    // journal, then the recovery file goes.
    void AcceptRecovered(std::span<const JournalEvent> events);
    // After TakeOver, declined: the recovery file is kept under a name that says so
    // (returned), never deleted.
    QString KeepRecoveredAside(const QDateTime& now);
    // A write failed since the journal was opened (disk full, file removed...).
    bool WriteFailed() const { return m_writeFailed; }

    // The valid records of a journal file, in file order.
    static std::vector<JournalEvent> Read(const QString& path);
    static void Encode(const JournalEvent& ev, unsigned char* out);

private:
    QString m_path;
    int m_fd = -1;
    bool m_dirty = false;
    bool m_writeFailed = false;
    int m_openError = 0;
    std::vector<unsigned char> m_buffer;
};

// Removes from events those already in the list (rows the per-event saving appended
// to the day's file), each row matching at most one event. Rows and events are
// compared by their event-file line, labels from the settings.
void DropListedEvents(const TEventList& list, const TUserPrefs& prefs,
                      std::vector<JournalEvent>& events);
// Puts events back into the list at their place by date-time, and marks it modified.
void InsertRecoveredEvents(TEventList& list, std::span<const JournalEvent> events);

} // namespace evtrak
