#pragma once
// Statistics per input, computed from the rows of the list: how often each input was
// activated, how long it stayed active in all and at most, its first and last event.

#include "eventlog/uLog.h"

#include <QStringList>
#include <vector>

namespace evtrak {

struct InputStatistics
{
    std::int32_t Input = 0;
    std::int64_t Activations = 0;   // " [ON]" rows and pulses recorded with their length
    std::int64_t TotalActiveMs = 0; // durations of " [OFF]" rows and of pulses
    std::int32_t LongestActiveMs = 0;
    qint64 FirstSeconds = kNoDateSeconds; // earliest and latest event of the input
    qint64 LastSeconds = kNoDateSeconds;
};

// One entry per input present among rows (list rows), by input number.
std::vector<InputStatistics> ComputeStatistics(const TEventList& list,
                                               const std::vector<int>& rows);

// The table as text lines: a heading line, then one line per input, columns separated
// by a tab (it pastes into a spreadsheet). Labels from prefs, durations in its format.
QStringList StatisticsHeadings();
QStringList StatisticsCells(const InputStatistics& s, const TUserPrefs& prefs);
QString StatisticsText(const std::vector<InputStatistics>& stats, const TUserPrefs& prefs);

} // namespace evtrak
