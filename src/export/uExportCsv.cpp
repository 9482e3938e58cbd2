// The CSV export for spreadsheets (French conventions: ';' and a decimal comma).
#include "export/uExport.h"
#include "export/uExportRows.h"

#include <cstdlib>

namespace evtrak {

namespace {

// Quoted, with inner quotes doubled, when the field holds a separator, a quote, a line
// break, or spaces at its ends that a spreadsheet would trim.
QString CsvField(const QString& text)
{
    const bool quote = text.contains(u';') || text.contains(u'"') || text.contains(u'\r') ||
                       text.contains(u'\n') ||
                       (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()));
    if (!quote)
        return text;
    QString copy = text;
    return u'"' + copy.replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
}

// A text cell that a spreadsheet would take for a formula (=, +, -, @, or a leading tab
// or CR) gets a leading apostrophe, which spreadsheets read as "this is text".
QString TextCell(const QString& text)
{
    static const QString starts = QStringLiteral("=+-@\t\r");
    if (!text.isEmpty() && starts.contains(text.front()))
        return CsvField(u'\'' + text);
    return CsvField(text);
}

// Milliseconds as seconds with a decimal comma: 2250 -> "2,250", -5 -> "-0,005".
QString SecondsText(std::int32_t ms)
{
    const qint64 magnitude = std::llabs(static_cast<qint64>(ms));
    return QStringLiteral("%1%2,%3")
        .arg(ms < 0 ? QStringLiteral("-") : QString())
        .arg(magnitude / 1000)
        .arg(magnitude % 1000, 3, 10, QLatin1Char('0'));
}

} // namespace

QByteArray ExportCsv(const TEventList& list)
{
    QString text = QStringLiteral("Date;Heure;Libellé;État;TS;Durée (ms);Durée (s)\r\n");
    for (int row = 0; row < list.rowCount(); ++row) {
        const ExportRow r = ReadExportRow(list, row);
        const QString state =
            r.HasState ? (r.State ? QStringLiteral("ON") : QStringLiteral("OFF")) : QString();
        const QStringList fields{
            CsvField(r.DateText),
            CsvField(r.TimeText),
            TextCell(r.Label),
            state,
            CsvField(r.InputText),
            r.HasDuration ? QString::number(r.DurationMs) : QString(),
            r.HasDuration ? SecondsText(r.DurationMs) : QString(),
        };
        text += fields.join(u';') + QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

} // namespace evtrak
