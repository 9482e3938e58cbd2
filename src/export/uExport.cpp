// Shared parts of the exports: reading a row's data, the atomic write, the
// command-line form.
#include "export/uExport.h"

#include "base/ktSafeFile.h"
#include "base/uResStr.h"
#include "eventlog/uEventFile.h"
#include "export/uExportRows.h"
#include "settings/uUserPrefs.h"

#include <QFileInfo>
#include <cstdio>

namespace evtrak {

bool ExportFormatFromName(const QString& name, ExportFormat* format)
{
    const QString n = name.toLower();
    if (n == QLatin1String("csv"))
        *format = ExportFormat::Csv;
    else if (n == QLatin1String("vcd"))
        *format = ExportFormat::Vcd;
    else
        return false;
    return true;
}

ExportRow ReadExportRow(const TEventList& list, int row)
{
    ExportRow r;
    // The state comes from the row's data: a label someone typed that ends in " [ON]"
    // is a label. Only a row read from a file holds its state in the label's text.
    const TEventList::RowFacts facts = list.rowFacts(row);
    r.Label = list.labelText(facts.LabelId);
    if (facts.Suffix != TEventList::NoSuffix) {
        r.HasState = true;
        r.State = facts.Suffix == TEventList::OnSuffix;
    }
    for (const auto& [suffix, on] :
         {std::pair{QStringLiteral(" [ON]"), true}, std::pair{QStringLiteral(" [OFF]"), false}}) {
        if (facts.StateInLabel && r.Label.endsWith(suffix)) {
            r.Label.chop(suffix.size());
            r.HasState = true;
            r.State = on;
            break;
        }
    }
    r.InputText = list.text(row, TEventList::ColIndex);
    r.Input = r.InputText.toInt();
    // Rows hold "dd/mm/yyyy hh:nn:ss" (the list renders every date that way).
    const QString dateTime = list.text(row, TEventList::ColDateTime);
    const qsizetype space = dateTime.indexOf(u' ');
    r.DateText = space < 0 ? dateTime : dateTime.left(space);
    r.TimeText = space < 0 ? QString() : dateTime.mid(space + 1);
    const TDateTime value = ParseEventDateTime(dateTime, 2000);
    r.Seconds = dateTime.isEmpty() ? kNoDateSeconds : SecondsFromDateTime(value);
    // A date that could not be read shows as 30/12/1899 00:00:00: no date at all.
    if (r.Seconds == kUnreadDateSeconds) {
        r.Seconds = kNoDateSeconds;
        r.DateText.clear();
        r.TimeText.clear();
    }
    if (r.Seconds != kNoDateSeconds)
        r.Ms = facts.Ms;
    const QString duration = list.text(row, TEventList::ColDuration);
    r.HasDuration = !duration.trimmed().isEmpty();
    r.DurationMs = r.HasDuration ? ReadDurationText(duration, 0) : 0;
    return r;
}

bool WriteExportFile(const QString& path, const QByteArray& bytes, QString* error)
{
    // The safe writer refuses anything but a regular file as the target (a FIFO, a
    // socket, a device, a folder) and reports a short write (full disk, size limit).
    QString reason;
    if (!WriteFileSafely(
            path, [&bytes](QIODevice& out) { return out.write(bytes) == bytes.size(); }, QString(),
            &reason)) {
        if (error)
            *error = ResStr::CannotWrite(path, reason);
        return false;
    }
    return true;
}

int RunExport(ExportFormat format, const QString& eventFile, const QString& output)
{
    const auto fail = [](const QString& text) {
        std::fputs(qPrintable(text + QLatin1Char('\n')), stderr);
        return 2;
    };
    // Durations are read back from the row texts: any duration format gives the same ms.
    const TUserPrefs prefs = DefaultUserPrefs();
    TEventList list(prefs);
    if (!QFileInfo(eventFile).isFile() ||
        !LoadEventFile(list, eventFile, QDate::currentDate().year()))
        return fail(ResStr::LoadFailed(eventFile));
    if (!list.RequireEvents())
        return fail(ResStr::NoEvents());
    // Writing the export over the event file would lose the events it holds.
    const QFileInfo target(output);
    if (target.exists() && target.canonicalFilePath() == QFileInfo(eventFile).canonicalFilePath())
        return fail(QStringLiteral("L'export ne peut pas remplacer le fichier d'évenements \"%1\".")
                        .arg(eventFile));
    const QByteArray bytes = format == ExportFormat::Csv
                                 ? ExportCsv(list)
                                 : ExportVcd(list, QDateTime::currentDateTime());
    QString error;
    if (!WriteExportFile(output, bytes, &error))
        return fail(error);
    return 0;
}

} // namespace evtrak
