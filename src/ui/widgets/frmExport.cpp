#include "ui/widgets/frmExport.h"

#include "base/uResStr.h"
#include "eventlog/uLog.h"
#include "ui/widgets/uMessagePrompt.h"

#include <QDir>

namespace evtrak {

QString ExportEventList(WindowPrompt& prompt, const TEventList& list, ExportFormat format)
{
    if (!list.RequireEvents()) {
        prompt.Inform(ResStr::NoEvents());
        return {};
    }
    const bool csv = format == ExportFormat::Csv;
    const QString suffix = csv ? QStringLiteral("csv") : QStringLiteral("vcd");
    const QString path = prompt.ChooseExportFile(
        csv ? QStringLiteral("Exporter en CSV") : QStringLiteral("Exporter en VCD"),
        csv ? QStringLiteral("Fichiers CSV (*.csv)") : QStringLiteral("Chronogrammes VCD (*.vcd)"),
        suffix, QDir::home().filePath(QStringLiteral("Evenements.") + suffix));
    if (path.isEmpty())
        return {};
    const QByteArray bytes = csv ? ExportCsv(list) : ExportVcd(list, QDateTime::currentDateTime());
    QString error;
    if (!WriteExportFile(path, bytes, &error)) {
        prompt.ShowError(error);
        return {};
    }
    return path;
}

} // namespace evtrak
