// The MQTT outbox file: what survives a restart, a crash in the middle of a line, a
// damaged line, a full disk and a second program.
#include "eventlog/uMqttOutbox.h"
#include "testsupport.h"

#include <QDir>
#include <QtTest>

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
        QVERIFY(box.Append(&p, 1, nullptr));
    }
}

std::vector<std::uint64_t> PendingSeqs(TMqttOutbox& box)
{
    std::vector<std::uint64_t> seqs;
    for (const OutboxEntry& e : box.Pending())
        seqs.push_back(e.Seq);
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
        for (const QString& f : QDir(m_dir.path()).entryList(QDir::Files))
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
            QCOMPARE(PendingSeqs(box), (std::vector<std::uint64_t>{4, 5}));
            QCOMPARE(box.Pending().back().Payload, Payload(5));
            QCOMPARE(box.NextSeq(), std::uint64_t(6));
            AppendN(box, 6, 1);
            QVERIFY(box.Ack(6, 0)); // everything acknowledged: compacted at once
            QCOMPARE(ReadBytes(path()), QByteArray("EVTRAK-MQTT-OUTBOX 1\nS 6\n"));
        }
        TMqttOutbox box;
        QVERIFY(box.Open(path()));
        QVERIFY(box.Pending().empty());
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
            QCOMPARE(PendingSeqs(box), (std::vector<std::uint64_t>{1, 2, 3}));
            QCOMPARE(box.NextSeq(), std::uint64_t(4));
            AppendN(box, 4, 1);
        }
        TMqttOutbox box;
        QVERIFY(box.Open(path()));
        QCOMPARE(PendingSeqs(box), (std::vector<std::uint64_t>{1, 2, 3, 4}));
        QCOMPARE(box.Pending().back().Payload, Payload(4));
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
        QCOMPARE(PendingSeqs(box), (std::vector<std::uint64_t>{1, 3}));
        const QStringList copies =
            QDir(m_dir.path()).entryList({QStringLiteral("outbox.dat.damaged-*")});
        QCOMPARE(copies.size(), 1);
        QCOMPARE(ReadBytes(m_dir.filePath(copies.first())), bytes);
    }

    // A full disk refuses an append: no half record stays behind.
    void fullDiskLeavesFileWhole()
    {
        TMqttOutbox box;
        QVERIFY(box.Open(path()));
        AppendN(box, 1, 2);
        const QByteArray before = ReadBytes(path());
        {
            test::FileSizeLimit limit(before.size() + 10);
            const QByteArray big(200, 'x');
            QVERIFY(!box.Append(&big, 1, nullptr));
        }
        QVERIFY(!box.ErrorText().isEmpty());
        QCOMPARE(ReadBytes(path()), before);
        box.Close();
        QVERIFY(box.Open(path()));
        QCOMPARE(PendingSeqs(box), (std::vector<std::uint64_t>{1, 2}));
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
};

QTEST_GUILESS_MAIN(TestMqttOutbox)
#include "tst_mqttoutbox.moc"
