// The MQTT outbox file: what survives a restart, a crash in the middle of a line, a
// damaged line, a full disk, a second program, a link in its place, its removal or
// cut while in use, and more pending records than memory holds. The replay store kept
// beside it: what a request gets back, and which numbers it reports missing.
#include "mqtt/uMqttOutbox.h"
#include "mqtt/uMqttReplay.h"
#include "testsupport.h"

#include <QDir>
#include <QtTest>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

using namespace evtrak;
using evtrak::test::ReadBytes;
using evtrak::test::WriteBytes;

namespace {

QByteArray Payload(int i)
{
    return QByteArray("{\"n\":") + QByteArray::number(i) + '}';
}

void AppendN(TMqttOutbox& box, int from, int count)
{
    for (int i = from; i < from + count; ++i) {
        const QByteArray p = Payload(i);
        QVERIFY(box.Append(&p, 1));
    }
}

constexpr auto kAll = std::numeric_limits<std::uint64_t>::max();

// Takes every pending entry not taken yet; checks each payload is its own.
std::vector<std::uint64_t> TakeSeqs(TMqttOutbox& box, std::size_t step = 1000)
{
    std::deque<OutboxEntry> got;
    while (box.Take(got, step, kAll) > 0) {
    }
    std::vector<std::uint64_t> seqs;
    for (const OutboxEntry& e : got) {
        if (e.Payload != Payload(int(e.Seq)))
            qWarning("record %llu holds %s", qulonglong(e.Seq), e.Payload.constData());
        seqs.push_back(e.Payload == Payload(int(e.Seq)) ? e.Seq : 0);
    }
    return seqs;
}

std::vector<std::uint64_t> Range(std::uint64_t from, std::uint64_t to)
{
    std::vector<std::uint64_t> seqs;
    for (std::uint64_t s = from; s <= to; ++s)
        seqs.push_back(s);
    return seqs;
}

} // namespace

class TestMqttOutbox : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(QStringLiteral("outbox.dat")); }

private Q_SLOTS:
    void init()
    {
        for (const QString& f : QDir(m_dir.path()).entryList(QDir::Files | QDir::System))
            QFile::remove(m_dir.filePath(f));
    }

    // Acknowledged messages are never sent again; numbers go on after a restart and
    // after the file was compacted down to nothing pending.
    void numbersAndAcksSurviveRestartAndCompaction()
    {
        {
            TMqttOutbox box;
            QVERIFY(box.Open(path()));
            QCOMPARE(box.NextSeq(), std::uint64_t(1));
            AppendN(box, 1, 5);
            QVERIFY(box.Ack(3));
        }
        {
            TMqttOutbox box;
            QVERIFY(box.Open(path()));
            QCOMPARE(TakeSeqs(box), (std::vector<std::uint64_t>{4, 5}));
            QCOMPARE(box.NextSeq(), std::uint64_t(6));
            AppendN(box, 6, 1);
            QVERIFY(box.Ack(6, 0)); // everything acknowledged: compacted at once
            QCOMPARE(ReadBytes(path()), QByteArray("EVTRAK-MQTT-OUTBOX 1\nS 6\n"));
        }
        TMqttOutbox box;
        QVERIFY(box.Open(path()));
        QVERIFY(TakeSeqs(box).empty());
        QCOMPARE(box.NextSeq(), std::uint64_t(7));
    }

    // A crash leaves the last record cut: it is dropped, and the next record starts
    // on a line of its own instead of being glued to the remains.
    void cutLastRecordDropped()
    {
        {
            TMqttOutbox box;
            QVERIFY(box.Open(path()));
            AppendN(box, 1, 3);
        }
        QFile f(path());
        QVERIFY(f.open(QIODevice::Append));
        f.write("E 4 12ab {\"n\":");
        f.close();
        {
            TMqttOutbox box;
            QVERIFY(box.Open(path()));
            QCOMPARE(TakeSeqs(box), (std::vector<std::uint64_t>{1, 2, 3}));
            QCOMPARE(box.NextSeq(), std::uint64_t(4));
            AppendN(box, 4, 1);
        }
        TMqttOutbox box;
        QVERIFY(box.Open(path()));
        QCOMPARE(TakeSeqs(box), (std::vector<std::uint64_t>{1, 2, 3, 4}));
        QVERIFY(QDir(m_dir.path()).entryList({QStringLiteral("*.damaged-*")}).isEmpty());
    }

    // A record whose checksum fails is not sent, but the file is kept aside before
    // anything could compact it away.
    void damagedRecordKeptAside()
    {
        {
            TMqttOutbox box;
            QVERIFY(box.Open(path()));
            AppendN(box, 1, 3);
        }
        QByteArray bytes = ReadBytes(path());
        bytes.replace("{\"n\":2}", "{\"n\":9}");
        WriteBytes(path(), bytes);
        TMqttOutbox box;
        QVERIFY(box.Open(path()));
        QCOMPARE(TakeSeqs(box), (std::vector<std::uint64_t>{1, 3}));
        const QStringList copies =
            QDir(m_dir.path()).entryList({QStringLiteral("outbox.dat.damaged-*")});
        QCOMPARE(copies.size(), 1);
        QCOMPARE(ReadBytes(m_dir.filePath(copies.first())), bytes);
    }

    // A full disk refuses an append: no half record stays behind, and the numbers it
    // would have used stay free (a restart carries on from the file: a number used in
    // memory only would be given again to another event).
    void fullDiskLeavesFileWholeAndNumbersUnused()
    {
        TMqttOutbox box;
        QVERIFY(box.Open(path()));
        AppendN(box, 1, 2);
        const QByteArray before = ReadBytes(path());
        {
            test::FileSizeLimit limit(before.size() + 10);
            const QByteArray big(200, 'x');
            QVERIFY(!box.Append(&big, 1));
        }
        QVERIFY(!box.ErrorText().isEmpty());
        QCOMPARE(ReadBytes(path()), before);
        QCOMPARE(box.NextSeq(), std::uint64_t(3));
        AppendN(box, 3, 1);
        box.Close();
        QVERIFY(box.Open(path()));
        QCOMPARE(TakeSeqs(box), (std::vector<std::uint64_t>{1, 2, 3}));
    }

    // More pending records than memory holds, acknowledgements in between and a
    // restart: every record comes back once, in order, read from the file; a record
    // not yet on the disk itself is not handed out.
    void pendingBeyondMemoryReadBackInOrder()
    {
        {
            TMqttOutbox box(4);
            QVERIFY(box.Open(path()));
            AppendN(box, 1, 10);
            std::deque<OutboxEntry> got;
            QCOMPARE(box.Take(got, 3, kAll), std::size_t(3));
            QVERIFY(box.Ack(2));
            QByteArray batch[5];
            for (int i = 0; i < 5; ++i)
                batch[i] = Payload(11 + i);
            QVERIFY(box.Append(batch, 5));
            QCOMPARE(box.Take(got, 100, 8), std::size_t(5)); // 4 to 8
            QCOMPARE(got.back().Seq, std::uint64_t(8));
            QCOMPARE(TakeSeqs(box, 2), Range(9, 15));
            QVERIFY(box.Ack(6));
            AppendN(box, 16, 2); // in memory again once the file was caught up
            QCOMPARE(TakeSeqs(box), Range(16, 17));
        }
        TMqttOutbox box(4);
        QVERIFY(box.Open(path()));
        QCOMPARE(TakeSeqs(box, 3), Range(7, 17));
        QCOMPARE(box.NextSeq(), std::uint64_t(18));
    }

    // The outbox removed, replaced or cut under the running program: noticed, and a
    // fresh file holds what is still known (the removed file through the open one,
    // what memory holds after a cut); numbering never starts again.
    void removedOrCutRewritten_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<std::vector<std::uint64_t>>("pendingAfter");
        QTest::newRow("removed") << QStringLiteral("removed") << Range(2, 12);
        QTest::newRow("replaced") << QStringLiteral("replaced") << Range(2, 12);
        // The cut keeps records 1 to 3; 4 and 5 are held by the caller; 6 to 12 were on
        // disk only.
        QTest::newRow("cut") << QStringLiteral("cut") << Range(2, 5);
    }
    void removedOrCutRewritten()
    {
        QFETCH(QString, how);
        QFETCH(std::vector<std::uint64_t>, pendingAfter);
        TMqttOutbox box(4);
        QVERIFY(box.Open(path()));
        AppendN(box, 1, 3);
        const qint64 cutAt = QFileInfo(path()).size();
        AppendN(box, 4, 9); // 1 to 4 in memory, 5 to 12 on disk only
        std::deque<OutboxEntry> held;
        QCOMPARE(box.Take(held, 5, kAll), std::size_t(5));
        QVERIFY(box.Ack(1));
        held.pop_front();
        QCOMPARE(box.CheckFile(), TMqttOutbox::FileState::Ours);
        if (how == QLatin1String("cut")) {
            QVERIFY(::truncate(QFile::encodeName(path()).constData(), cutAt) == 0);
        } else {
            QVERIFY(QFile::remove(path()));
            if (how == QLatin1String("replaced"))
                WriteBytes(path(), "not mine\n");
        }
        QCOMPARE(box.CheckFile(), how == QLatin1String("cut") ? TMqttOutbox::FileState::Cut
                                                              : TMqttOutbox::FileState::Removed);
        std::uint64_t kept = 0;
        QVERIFY(box.Rewrite(std::vector<OutboxEntry>(held.begin(), held.end()), &kept));
        QCOMPARE(kept, std::uint64_t(pendingAfter.size()));
        QCOMPARE(box.CheckFile(), TMqttOutbox::FileState::Ours);
        QCOMPARE(box.NextSeq(), std::uint64_t(13));
        // What the caller holds is not handed out again; the rest follows in order.
        std::vector<std::uint64_t> notHeld;
        std::copy_if(pendingAfter.begin(), pendingAfter.end(), std::back_inserter(notHeld),
                     [](std::uint64_t s) { return s > 5; });
        AppendN(box, 13, 1);
        notHeld.push_back(13);
        QCOMPARE(TakeSeqs(box), notHeld);
        box.Close();
        QVERIFY(box.Open(path()));
        pendingAfter.push_back(13);
        QCOMPARE(TakeSeqs(box), pendingAfter);
        QCOMPARE(box.NextSeq(), std::uint64_t(14));
    }

    // A link or anything but a regular file at the outbox's (or its lock's) name is
    // refused, and what it points to is left untouched.
    void linkOrSpecialFileRefused()
    {
        const QString victim = m_dir.filePath(QStringLiteral("victim.txt"));
        for (const QString& name : QStringList{path(), path() + QStringLiteral(".lock")}) {
            init();
            WriteBytes(victim, "precious\n");
            QVERIFY(QFile::link(victim, name));
            TMqttOutbox box;
            QVERIFY(!box.Open(path()));
            QVERIFY2(box.ErrorText().contains(QStringLiteral("lien symbolique")),
                     qPrintable(box.ErrorText()));
            QCOMPARE(ReadBytes(victim), QByteArray("precious\n"));
        }
        init();
        QVERIFY(::mkfifo(QFile::encodeName(path()).constData(), 0600) == 0);
        TMqttOutbox box;
        QVERIFY(!box.Open(path()));
        QVERIFY(box.ErrorText().contains(QStringLiteral("pas un fichier ordinaire")));
    }

    // A file too large to be an outbox is kept aside, whole, and numbering goes on
    // after its last record.
    void tooLargeKeptAside()
    {
        {
            TMqttOutbox box;
            QVERIFY(box.Open(path()));
            AppendN(box, 1, 300);
        }
        const QByteArray bytes = ReadBytes(path());
        TMqttOutbox box(4096, bytes.size() - 1);
        QVERIFY(box.Open(path()));
        QVERIFY(box.TakeNotice().contains(QStringLiteral("trop grand")));
        QCOMPARE(box.NextSeq(), std::uint64_t(301));
        QVERIFY(TakeSeqs(box).empty());
        const QStringList aside = QDir(m_dir.path()).entryList({QStringLiteral("*.too-large-*")});
        QCOMPARE(aside.size(), 1);
        QCOMPARE(ReadBytes(m_dir.filePath(aside.first())), bytes);
    }

    // A stop while a long outbox is being read leaves the file exactly as it was,
    // damaged tail included: nothing is changed before the whole file was read.
    void interruptedReadChangesNothing()
    {
        {
            TMqttOutbox box;
            QVERIFY(box.Open(path()));
            AppendN(box, 1, 20000);
        }
        QFile f(path());
        QVERIFY(f.open(QIODevice::Append));
        f.write("E 20001 0000 cut");
        f.close();
        const QByteArray before = ReadBytes(path());
        const std::atomic<bool> stop{true};
        TMqttOutbox box;
        QVERIFY(box.Lock(path()));
        QVERIFY(!box.Read(&stop));
        QVERIFY(!box.IsOpen());
        QCOMPARE(ReadBytes(path()), before);
        QVERIFY(box.Open(path()));
        QCOMPARE(box.NextSeq(), std::uint64_t(20001));
    }

    // Two programs on one folder would number and send the same messages twice.
    void secondProgramRefused()
    {
        TMqttOutbox first;
        QVERIFY(first.Open(path()));
        TMqttOutbox second;
        QVERIFY(!second.Open(path()));
        QVERIFY(second.ErrorText().contains(QStringLiteral("utilisé par un autre programme")));
        first.Close();
        QVERIFY(second.Open(path()));
    }

    // A request across two runs' segments, one line damaged: every readable number comes
    // back once and in order, the damaged one is reported missing, nothing past the last
    // number used is; the same in small steps. Numbers below the oldest segment kept are
    // reported missing, never invented.
    void replayStoreAnswersRanges()
    {
        const QString folder = m_dir.filePath(QStringLiteral("replay"));
        auto entries = [](std::uint64_t from, std::uint64_t to) {
            std::vector<OutboxEntry> e;
            for (std::uint64_t s = from; s <= to; ++s)
                e.push_back({s, Payload(int(s))});
            return e;
        };
        {
            TReplayStore run1(folder, 7);
            QVERIFY(run1.Open());
            const auto e = entries(1, 10);
            QVERIFY(run1.Append(e.data(), e.size()));
        }
        const QString first = folder + QStringLiteral("/00000000000000000001.rpl");
        WriteBytes(first, ReadBytes(first).replace("\n5 {", "\n5x{"));
        TReplayStore store(folder, 7);
        QVERIFY(store.Open());
        const auto e = entries(11, 20);
        QVERIFY(store.Append(e.data(), e.size()));
        QCOMPARE(store.Segments().size(), std::size_t(2));
        using Ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
        for (const std::size_t step : {std::size_t(1000), std::size_t(3)}) {
            TReplayCursor cursor(3, 25);
            std::vector<OutboxEntry> out;
            Ranges missing;
            int steps = 0;
            while (!cursor.Step(store.Segments(), 20, step, out, missing) && ++steps < 100) {
            }
            std::vector<std::uint64_t> seqs;
            for (const OutboxEntry& o : out) {
                seqs.push_back(o.Seq);
                QCOMPARE(o.Payload, Payload(int(o.Seq)));
            }
            QCOMPARE(seqs, (std::vector<std::uint64_t>{3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                                       17, 18, 19, 20}));
            QCOMPARE(missing, (Ranges{{5, 5}}));
        }
        std::vector<ReplaySegment> later = store.Segments();
        later.erase(later.begin());
        TReplayCursor cursor(1, 12);
        std::vector<OutboxEntry> out;
        Ranges missing;
        QVERIFY(cursor.Step(later, 20, 1000, out, missing));
        QCOMPARE(missing, (Ranges{{1, 10}}));
        QCOMPARE(out.size(), std::size_t(2));
        QCOMPARE(out.back().Seq, std::uint64_t(12));
    }
};

QTEST_GUILESS_MAIN(TestMqttOutbox)
#include "tst_mqttoutbox.moc"
