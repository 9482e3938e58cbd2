// The start-up's reading of a large recovery journal: 2,000,000 events left by a killed
// run, (a) none of them in a file (no saving option: every event goes back into the
// list), (b) all of them appended to the day's file as they came (per-event saving:
// every append is checked against the file, nothing goes back). Time and peak memory of
// the reading and of the recovery into the list, against reading the bytes alone.

#include "bench_support.h"
#include "eventlog/uEventFile.h"
#include "eventlog/uJournal.h"
#include "eventlog/uLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

using namespace evtrak;
using namespace evtrak::bench;

namespace {

constexpr int kEvents = 2000000;
constexpr int kBatch = 64;

double ReadBytesMs(const QString& path)
{
    QElapsedTimer t;
    t.start();
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        while (!f.read(1 << 20).isEmpty()) {
        }
    return Ms(t);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const TUserPrefs prefs = DefaultUserPrefs();
    // tmpfs where there is one: the figures are the program's, not the disk's.
    QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                          ? QStringLiteral("/dev/shm/bench_journal-XXXXXX")
                          : QDir::tempPath() + QStringLiteral("/bench_journal-XXXXXX"));
    const QString logDir = dir.path() + u'/';
    const QDate today = QDate::currentDate();
    const qint64 t0 = QDateTime(today, QTime(0, 0, 1)).toMSecsSinceEpoch();
    std::vector<JournalEvent> batch(kBatch);
    std::printf("Recovery journal of %d events (%s)\n", kEvents, qPrintable(logDir));

    for (const bool appended : {false, true}) {
        const QString path = TJournal::PathIn(logDir);
        const QString day =
            logDir + today.toString(QStringLiteral("yyyy_MM_dd")) + QStringLiteral(".txt");
        QFile::remove(day);
        {
            TJournal journal(path);
            journal.Open();
            TEventList lines(prefs);
            for (int i = 0; i < kEvents; i += kBatch) {
                for (int k = 0; k < kBatch; ++k)
                    batch[std::size_t(k)] =
                        JournalEvent{t0 + (i + k) / 50, (i + k) % 13, 20, true, (k & 1) != 0};
                journal.Append(batch.data(), batch.size());
                if (!appended)
                    continue;
                QStringList text;
                for (const JournalEvent& e : batch)
                    text << QStringLiteral("Libellé_%1 [ON];%1;%2;20 ms")
                                .arg(e.InputIndex)
                                .arg(FormatEventDateTime(
                                    DateTimeFromQt(QDateTime::fromMSecsSinceEpoch(e.Ms))));
                const bool ok =
                    AppendEventLines(day, text, [&](qint64 o, qint64 s, std::uint32_t c) {
                        journal.NoteAppend(day, o, s, c, text.size());
                    });
                journal.AppendDone(day, ok);
            }
        } // killed: the journal stays as it is
        const qint64 bytes = QFileInfo(path).size();
        const double plainMs = ReadBytesMs(path);
        QElapsedTimer t;
        t.start();
        TJournal journal(path);
        const JournalFindings found = journal.Scan();
        const double scanMs = Ms(t);
        TEventList list(prefs);
        t.restart();
        if (appended) {
            // Nothing to put back: the day's file is loaded as at any start.
            LoadEventFile(list, day, today.year());
        }
        const RecoveryResult r = RecoverEvents(journal, found, list, prefs, logDir, today);
        const double recoverMs = Ms(t);
        std::printf("%s: journal %.1f MB; reading the bytes alone %.0f ms; Scan %.0f ms "
                    "(%.1fx the plain read); %zu events to put back; %s + recovery into the "
                    "list %.0f ms; start-up total %.0f ms; peak resident %ld MiB\n",
                    appended ? "(b) appended to the day's file" : "(a) in no file",
                    double(bytes) / 1e6, plainMs, scanMs, scanMs / plainMs, found.Events.size(),
                    appended ? "loading the day's file" : "nothing to load", recoverMs,
                    scanMs + recoverMs, PeakMiB());
        if (r.IntoList != int(found.Events.size()) || list.rowCount() != kEvents)
            std::printf("   WRONG: %d rows in the list\n", list.rowCount());
        journal.Finish();
    }
    return 0;
}
