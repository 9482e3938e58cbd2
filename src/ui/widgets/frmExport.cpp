#include "ui/widgets/frmExport.h"

#include "base/uResStr.h"
#include "eventlog/uLog.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace evtrak {

void ExportEventList(QWidget* parent, const TEventList& list, ExportFormat format,
                     const std::function<QString(const QString& suggested)>& askFile,
                     const std::function<void(const QString& text)>& inform)
{
    const bool csv = format == ExportFormat::Csv;
    const QString title =
        csv ? QStringLiteral("Exporter en CSV") : QStringLiteral("Exporter en VCD");
    const auto show = [&](const QString& text) {
        if (inform)
            inform(text);
        else
            QMessageBox::information(parent, title, text);
    };
    if (!list.RequireEvents()) {
        show(ResStr::NoEvents());
        return;
    }
    const QString suffix = csv ? QStringLiteral("csv") : QStringLiteral("vcd");
    const QString suggested = QDir::home().filePath(QStringLiteral("Evenements.") + suffix);
    QString path;
    if (askFile) {
        path = askFile(suggested);
    } else {
        QFileDialog dialog(parent, title, suggested,
                           csv ? QStringLiteral("Fichiers CSV (*.csv)")
                               : QStringLiteral("Chronogrammes VCD (*.vcd)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(suffix);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().constFirst();
    }
    if (path.isEmpty())
        return;
    const QByteArray bytes = csv ? ExportCsv(list) : ExportVcd(list, QDateTime::currentDateTime());
    QString error;
    if (!WriteExportFile(path, bytes, &error))
        show(error);
}

} // namespace evtrak
