// Filtering 1,000,000 events as the search bar does: the proxy the window shows while
// filtered (rebuilt from scratch on each change of the filter), the plain row scan it
// rests on, a capture batch arriving while filtered, and the statistics of every row.

#include "eventlog/uEventFilter.h"
#include "eventlog/uEventStatistics.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace evtrak;

namespace {

constexpr int kEvents = 1000000;
constexpr int kRuns = 5;

template <typename F> double MedianMs(F&& f)
{
    std::vector<double> ms;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TUserPrefs prefs = DefaultUserPrefs();
    TEventList list(prefs);
    {
        // 13 inputs with French labels, edges ON/OFF, one event a second.
        std::vector<EventRecord> recs;
        recs.reserve(kEvents);
        const TDateTime start = DateTimeFromQt(QDateTime(QDate(2026, 12, 1), QTime(0, 0)));
        for (int i = 0; i < kEvents; ++i) {
            const int input = i % 13;
            recs.push_back(
                EventRecord{QStringLiteral("Entrée %1 défaut n°%2").arg(input).arg(input * 7),
                            input, start + (kEvents - i) / 86400.0, i % 5000});
        }
        list.AppendEvents(recs);
    }

    EventFilter text;
    text.Text = QStringLiteral("DEFAUT N°21"); // accents and case differ: input 3
    EventFilter combined = text;
    combined.Inputs = QStringLiteral("0-5");
    combined.FromSeconds =
        SecondsFromDateTime(DateTimeFromQt(QDateTime(QDate(2026, 12, 3), QTime(0, 0))));
    combined.StateWanted = EventFilter::State::Off;

    std::size_t kept = 0;
    const double scanText = MedianMs([&] { kept = FilterRows(list, text).size(); });
    std::printf("Row scan, label text:            %8.1f ms for %d rows (%zu kept)\n", scanText,
                kEvents, kept);
    const double scanAll = MedianMs([&] { kept = FilterRows(list, combined).size(); });
    std::printf("Row scan, text+inputs+dates+OFF: %8.1f ms (%zu kept)\n", scanAll, kept);

    TEventFilterProxy proxy(list);
    int flip = 0;
    const double proxyMs = MedianMs([&] {
        // Alternate two filters so that every run really rebuilds the mapping.
        proxy.setFilter(flip++ % 2 ? text : combined);
        kept = std::size_t(proxy.rowCount());
    });
    std::printf("Proxy rebuilt on a new filter:   %8.1f ms (goal < 300 ms: %.2f of it)\n", proxyMs,
                proxyMs / 300.0);
    proxy.setFilter(text);
    std::vector<CapturedEvent> batch(1000);
    for (int i = 0; i < int(batch.size()); ++i)
        batch[std::size_t(i)] = CapturedEvent{true, i % 2 == 0, 3, 10, 46000.0 + i / 86400.0};
    QElapsedTimer t;
    t.start();
    list.RecordEvents(batch);
    std::printf("Batch of 1000 events recorded while filtered: %.2f ms (%d rows shown)\n",
                double(t.nsecsElapsed()) / 1e6, proxy.rowCount());

    std::vector<int> all(static_cast<std::size_t>(list.rowCount()));
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = int(i);
    std::size_t inputs = 0;
    const double statsMs = MedianMs([&] { inputs = ComputeStatistics(list, all).size(); });
    std::printf("Statistics of %zu rows:       %8.1f ms (%zu inputs)\n", all.size(), statsMs,
                inputs);
    return 0;
}
