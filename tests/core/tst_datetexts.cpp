#include "eventlog/uDateTexts.h"

#include <QRandomGenerator>
#include <QTest>
#include <cmath>
#include <limits>

using namespace evtrak;

class TestDateTexts : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void formatDuration_data()
    {
        QTest::addColumn<int>("ms");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zero ms") << 0 << 0 << "0 ms";
        QTest::newRow("zero s") << 0 << 1 << "0.000 s";
        QTest::newRow("zero auto") << 0 << 2 << "0 ms";
        QTest::newRow("999 auto") << 999 << 2 << "999 ms";
        QTest::newRow("1000 auto") << 1000 << 2 << "1.000 s";
        QTest::newRow("negative auto") << -5 << 2 << "-5 ms";
        QTest::newRow("negative s") << -5 << 1 << "-0.005 s";
        QTest::newRow("-1500 s") << -1500 << 1 << "-1.500 s";
        QTest::newRow("small s") << 2 << 1 << "0.002 s";
        QTest::newRow("1500 s") << 1500 << 1 << "1.500 s";
        QTest::newRow("max ms") << std::numeric_limits<int>::max() << 0 << "2147483647 ms";
        QTest::newRow("min s") << std::numeric_limits<int>::min() << 1 << "-2147483.648 s";
        QTest::newRow("unknown format") << 1500 << 7 << "";
        QTest::newRow("negative format") << 1500 << -1 << "";
    }
    void formatDuration()
    {
        QFETCH(int, ms);
        QFETCH(int, format);
        QFETCH(QString, expected);
        QCOMPARE(FormatDurationMs(ms, format), expected);
        QCOMPARE(FormatDuration(QString(), ms, format), expected);
    }

    void readDurationBack_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("expected");
        QTest::newRow("s to ms") << "1.500 s" << 0 << "1500 ms";
        QTest::newRow("decimal comma") << "1,500 s" << 0 << "1500 ms";
        QTest::newRow("ms to s") << "250 ms" << 1 << "0.250 s";
        QTest::newRow("bare ms, as in event files") << "1500" << 0 << "1500 ms";
        QTest::newRow("empty gives fallback") << "" << 0 << "-1 ms";
        QTest::newRow("no float truncation") << "1.003 s" << 0 << "1003 ms";
        QTest::newRow("many decimals truncate") << "1.0039 s" << 0 << "1003 ms";
        QTest::newRow("negative ms keeps sign") << "-5 ms" << 0 << "-5 ms";
        QTest::newRow("negative s") << "-0.005 s" << 0 << "-5 ms";
        QTest::newRow("unit case and blanks") << "  12   Ms " << 0 << "12 ms";
        QTest::newRow("unreadable gives 0") << "1x2 ms" << 0 << "0 ms";
        QTest::newRow("no number") << "abc s" << 0 << "0 ms";
        QTest::newRow("into unknown format") << "1.500 s" << 9 << "";
    }
    void readDurationBack()
    {
        QFETCH(QString, text);
        QFETCH(int, format);
        QFETCH(QString, expected);
        QCOMPARE(FormatDuration(text, -1, format), expected);
    }

    // Re-rendering in another format and back never changes a duration.
    void durationSurvivesReformatting()
    {
        QList<int> values = {0,
                             1,
                             -1,
                             999,
                             1000,
                             1001,
                             1003,
                             4095,
                             123456789,
                             std::numeric_limits<int>::max(),
                             std::numeric_limits<int>::min()};
        auto* rng = QRandomGenerator::global();
        for (int i = 0; i < 20000; ++i)
            values << int(rng->generate());
        for (int ms : values)
            for (int from = 0; from <= 2; ++from)
                for (int to = 0; to <= 2; ++to) {
                    const QString text = FormatDurationMs(ms, from);
                    QCOMPARE(ReadDurationText(text, -7), ms);
                    QCOMPARE(FormatDuration(text, -7, to), FormatDurationMs(ms, to));
                }
    }

    void formatDateTime_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zero") << 0.0 << "30/12/1899 00:00:00";
        QTest::newRow("noon") << 0.5 << "30/12/1899 12:00:00";
        QTest::newRow("before zero") << -1.25 << "29/12/1899 06:00:00";
        QTest::newRow("leap day") << double(QDate(2024, 2, 29).toJulianDay() - 2415019) + 0.75
                                  << "29/02/2024 18:00:00";
        QTest::newRow("not finite") << std::nan("") << "";
        QTest::newRow("year beyond 9999") << 3e6 << "";
        QTest::newRow("year before 1") << -7e5 << "";
    }
    void formatDateTime()
    {
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(FormatEventDateTime(value), expected);
    }

    void millisecondsAreDroppedNotRounded()
    {
        const QDateTime t(QDate(2026, 12, 7), QTime(14, 5, 9, 999));
        QCOMPARE(FormatEventDateTime(DateTimeFromQt(t)), QStringLiteral("07/12/2026 14:05:09"));
        const QDateTime lastMs(QDate(2026, 12, 31), QTime(23, 59, 59, 999));
        QCOMPARE(FormatEventDateTime(DateTimeFromQt(lastMs)),
                 QStringLiteral("31/12/2026 23:59:59"));
        QCOMPARE(QtFromDateTime(DateTimeFromQt(t)), t);
    }

    // The arithmetic formatter agrees with Qt's calendar over the whole range.
    void formatterAgreesWithCalendar()
    {
        auto* rng = QRandomGenerator::global();
        for (int i = 0; i < 20000; ++i) {
            const qint64 days = rng->bounded(-693593, 2958465);
            const int secs = rng->bounded(86400);
            const QDate date = QDate::fromJulianDay(days + 2415019);
            const QTime time = QTime::fromMSecsSinceStartOfDay(secs * 1000);
            const double frac = secs / 86400.0;
            const double value = days >= 0 ? double(days) + frac : double(days) - frac;
            const QString expected = date.toString(QStringLiteral("dd/MM/yyyy")) + u' ' +
                                     time.toString(QStringLiteral("hh:mm:ss"));
            QCOMPARE(FormatEventDateTime(value), expected);
            QCOMPARE(FormatEventDateTime(ParseEventDateTime(expected, 2026)), expected);
        }
    }

    void parseDateTime_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("short fields") << "7/12/2026 9:05"
                                      << "07/12/2026 09:05:00";
        QTest::newRow("full") << "07/12/2026 14:05:11"
                              << "07/12/2026 14:05:11";
        QTest::newRow("blanks") << " 7 / 12 /2026  9 : 05 : 07 "
                                << "07/12/2026 09:05:07";
        QTest::newRow("date only") << "1/2/2003"
                                   << "01/02/2003 00:00:00";
        QTest::newRow("no year") << "7/12"
                                 << "07/12/2026 00:00:00";
        QTest::newRow("two-digit year now") << "7/12/26"
                                            << "07/12/2026 00:00:00";
        QTest::newRow("two-digit year past") << "1/1/80"
                                             << "01/01/1980 00:00:00";
        QTest::newRow("window start") << "1/1/76"
                                      << "01/01/1976 00:00:00";
        QTest::newRow("window end") << "1/1/75"
                                    << "01/01/2075 00:00:00";
        QTest::newRow("one-digit year") << "1/1/5"
                                        << "01/01/2005 00:00:00";
        QTest::newRow("garbage") << "garbage"
                                 << "30/12/1899 00:00:00";
        QTest::newRow("empty") << ""
                               << "30/12/1899 00:00:00";
        QTest::newRow("bad day") << "31/2/2026"
                                 << "30/12/1899 00:00:00";
        QTest::newRow("bad hour") << "7/12/2026 24:00"
                                  << "30/12/1899 00:00:00";
        QTest::newRow("hour alone") << "7/12/2026 9"
                                    << "30/12/1899 00:00:00";
        QTest::newRow("trailing text") << "7/12/2026 9:05 x"
                                       << "30/12/1899 00:00:00";
        QTest::newRow("iso form") << "2026-12-07 09:05"
                                  << "30/12/1899 00:00:00";
        QTest::newRow("huge number") << "7/12/99999999999"
                                     << "30/12/1899 00:00:00";
    }
    void parseDateTime()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(FormatEventDateTime(ParseEventDateTime(text, 2026)), expected);
    }
};

QTEST_GUILESS_MAIN(TestDateTexts)
#include "tst_datetexts.moc"
