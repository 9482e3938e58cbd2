#pragma once
// A list row read back for the exports (internal to uExport*.cpp).

#include "eventlog/uLog.h"

namespace evtrak {

struct ExportRow
{
    QString Label; // without the state suffix
    bool HasState = false;
    bool State = false; // " [ON]" when HasState
    QString InputText;  // column "TS" as shown
    int Input = 0;
    QString DateText; // dd/mm/yyyy
    QString TimeText; // hh:nn:ss
    qint64 Seconds = kNoDateSeconds;
    int Ms = -1; // the milliseconds of a captured row's time; -1 when unknown
    bool HasDuration = false;
    std::int32_t DurationMs = 0;
};

ExportRow ReadExportRow(const TEventList& list, int row);

} // namespace evtrak
