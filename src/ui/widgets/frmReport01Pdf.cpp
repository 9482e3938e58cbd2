// The report as a PDF file: the export command and the command-line form.
#include "ui/widgets/frmReport01.h"

#include "app/ktCommandLine.h"
#include "app/ktPaths.h"
#include "base/uResStr.h"
#include "base/uUserPrompt.h"
#include "eventlog/uLog.h"
#include "eventlog/uSavingPolicy.h"
#include "export/uExport.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <cstdio>

namespace evtrak {

Q_LOGGING_CATEGORY(lcReport, "evtrak.report")

bool WriteReportPdf(const TEventList& list, const TUserPrefs& prefs, const QString& pdfPath,
                    QString* error, const QDate& printDate, const ReportRows* shown)
{
    const auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (!list.RequireEvents() || (shown && shown->Rows.empty()))
        return fail(ResStr::NoEvents());

    // Drawn in memory, then written beside the target and renamed into place: a failed
    // export (a full disk included) leaves any earlier file of that name as it was and is
    // reported, never committed short.
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    TfmReport01 report(list, prefs, shown);
    report.PrintDate = printDate;
    {
        QPdfWriter writer(&pdf);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
        writer.setResolution(600);
        writer.setTitle(report.MainTitle);
        writer.setCreator(QStringLiteral("Evtrak"));
        QPainter painter;
        if (!painter.begin(&writer))
            return fail(ResStr::CannotWrite(pdfPath));
        report.paint(painter, writer);
        painter.end();
    }
    QString writeError;
    if (!WriteExportFile(pdfPath, pdf.data(), &writeError)) {
        qCWarning(lcReport) << "cannot write" << pdfPath;
        return fail(writeError);
    }
    return true;
}

QString ExportReportPdf(QWidget* parent, const TEventList& list, const TUserPrefs& prefs,
                        const ReportRows* shown)
{
    const QString title = QStringLiteral("Exporter en PDF");
    if (!list.RequireEvents() || (shown && shown->Rows.empty())) {
        QMessageBox::information(parent, title, ResStr::NoEvents());
        return {};
    }
    QFileDialog dialog(parent, title, QDir::homePath(), QStringLiteral("Documents PDF (*.pdf)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    dialog.selectFile(QStringLiteral("Rapport.pdf"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QString path = dialog.selectedFiles().constFirst();
    QString error;
    if (!WriteReportPdf(list, prefs, path, &error, QDate::currentDate(), shown)) {
        QMessageBox::warning(parent, title, error);
        return {};
    }
    return path;
}

int RunReportToPdf(const CommandLineOptions& options)
{
    const auto fail = [](const QString& text) {
        std::fputs(qPrintable(text + QLatin1Char('\n')), stderr);
        return 2;
    };
    const AppPaths paths = InitPaths(QCoreApplication::applicationDirPath());
    TUserPrefs prefs = DefaultUserPrefs();
    ReadUserPrefs(prefs, paths.PrefsFileName, nullptr);

    TEventList list(prefs);
    SilentPrompt prompt;
    TSavingPolicy policy(list, prefs, prompt);
    const QString& eventFile = options.reportFile;
    if (!QFileInfo(eventFile).isFile() || !policy.LoadEventFile(eventFile))
        return fail(ResStr::LoadFailed(eventFile));
    if (!list.RequireEvents())
        return fail(ResStr::NoEvents());
    // Writing the PDF over the event file would lose the events it holds.
    const QFileInfo target(options.pdfFile);
    if (target.exists() && target.canonicalFilePath() == QFileInfo(eventFile).canonicalFilePath())
        return fail(
            QStringLiteral("Le rapport ne peut pas remplacer le fichier d'évenements \"%1\".")
                .arg(eventFile));
    QString error;
    if (!WriteReportPdf(list, prefs, options.pdfFile, &error))
        return fail(error);
    return 0;
}

} // namespace evtrak
