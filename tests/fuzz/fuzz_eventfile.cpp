// Any bytes as an event file: reading never fails, and saving what was read then reading
// it again gives the same rows and the same kept lines.
#include "eventlog/uEventFile.h"

#include <cstdlib>

using namespace evtrak;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const TUserPrefs prefs = DefaultUserPrefs();
    EventFileContent first;
    ParseEventFileBytes(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), 2026,
                        first);
    TEventList list(prefs);
    list.AppendEvents(first.Records);
    list.SetKeptLines(first.Kept);

    // What SaveEventFile writes.
    QByteArray saved;
    list.AppendFileBytes(saved, 0, list.rowCount());
    EventFileContent second;
    ParseEventFileBytes(saved, 2026, second);
    TEventList again(prefs);
    again.AppendEvents(second.Records);

    if (again.rowCount() != list.rowCount() || second.Kept.size() != first.Kept.size())
        std::abort();
    for (int r = 0; r < list.rowCount(); ++r)
        if (again.fileLine(r) != list.fileLine(r))
            std::abort();
    for (std::size_t k = 0; k < first.Kept.size(); ++k)
        if (second.Kept[k].Bytes != first.Kept[k].Bytes ||
            second.Kept[k].RowsAfter != first.Kept[k].RowsAfter)
            std::abort();
    return 0;
}
