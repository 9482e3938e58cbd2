#include "eventlog/uEventStatistics.h"

#include <map>

namespace evtrak {

namespace {

QString DateText(qint64 seconds)
{
    char buf[kDateTimeTextLength + 1];
    return QString::fromLatin1(buf, WriteDateTimeText(seconds, buf));
}

// A total can pass the 24 days an int32 of ms holds: beyond, it is written in seconds.
QString TotalText(std::int64_t ms, int format)
{
    if (ms <= std::numeric_limits<std::int32_t>::max())
        return FormatDurationMs(std::int32_t(ms), format);
    return QStringLiteral("%1.%2 s").arg(ms / 1000).arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

} // namespace

std::vector<InputStatistics> ComputeStatistics(const TEventList& list, const std::vector<int>& rows)
{
    std::map<std::int32_t, InputStatistics> byInput;
    for (int row : rows) {
        const TEventList::RowFacts r = list.rowFacts(row);
        InputStatistics& s = byInput[r.Input];
        s.Input = r.Input;
        if (r.Suffix != TEventList::OffSuffix)
            ++s.Activations;
        if (r.Suffix != TEventList::OnSuffix) {
            s.TotalActiveMs += std::max(r.DurationMs, 0);
            s.LongestActiveMs = std::max(s.LongestActiveMs, r.DurationMs);
        }
        if (r.Seconds != kNoDateSeconds) {
            if (s.FirstSeconds == kNoDateSeconds || r.Seconds < s.FirstSeconds)
                s.FirstSeconds = r.Seconds;
            if (s.LastSeconds == kNoDateSeconds || r.Seconds > s.LastSeconds)
                s.LastSeconds = r.Seconds;
        }
    }
    std::vector<InputStatistics> out;
    out.reserve(byInput.size());
    for (const auto& [input, s] : byInput)
        out.push_back(s);
    return out;
}

QStringList StatisticsHeadings()
{
    return {QStringLiteral("TS"),
            QStringLiteral("Libellé"),
            QStringLiteral("Activations"),
            QStringLiteral("Durée totale"),
            QStringLiteral("Durée la plus longue"),
            QStringLiteral("Premier évenement"),
            QStringLiteral("Dernier évenement")};
}

QStringList StatisticsCells(const InputStatistics& s, const TUserPrefs& prefs)
{
    const bool known = s.Input >= 0 && s.Input < kInputCount;
    return {QString::number(s.Input),
            known ? GetInputPrefs(prefs, s.Input).Label : QString(),
            QString::number(s.Activations),
            TotalText(s.TotalActiveMs, prefs.LogDurationFormat),
            FormatDurationMs(s.LongestActiveMs, prefs.LogDurationFormat),
            DateText(s.FirstSeconds),
            DateText(s.LastSeconds)};
}

QString StatisticsText(const std::vector<InputStatistics>& stats, const TUserPrefs& prefs)
{
    QStringList lines{StatisticsHeadings().join(u'\t')};
    for (const InputStatistics& s : stats)
        lines << StatisticsCells(s, prefs).join(u'\t');
    return lines.join(u'\n') + u'\n';
}

} // namespace evtrak
