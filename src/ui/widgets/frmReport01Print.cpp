// Printing and previewing the report.
#include "ui/widgets/frmReport01.h"

#include "base/uResStr.h"
#include "eventlog/uLog.h"
#include "ui/widgets/uFormsGeometry.h"

#include <QMessageBox>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

namespace evtrak {

void InitReportPrinter(QPrinter& printer)
{
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
    printer.setCopyCount(1);
    printer.setDuplex(QPrinter::DuplexNone);
    printer.setPrintRange(QPrinter::AllPages);
    printer.setColorMode(QPrinter::Color);
}

ReportDialogs StandardReportDialogs(QWidget* parent)
{
    ReportDialogs d;
    d.inform = [parent](const QString& text) {
        QMessageBox::information(parent, QStringLiteral("Information"), text);
    };
    d.preview = [parent](QPrinter& printer, const std::function<void(QPrinter*)>& render) {
        QPrintPreviewDialog dialog(&printer, parent);
        dialog.setWindowTitle(QStringLiteral("Aperçu avant impression"));
        dialog.resize(900, 1000);
        FitOnScreen(&dialog); // smaller on a small screen: the page preview zooms
        QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, render);
        dialog.exec();
    };
    d.confirmPrint = [parent](QPrinter& printer) {
        QPrintDialog dialog(&printer, parent);
        dialog.setWindowTitle(QStringLiteral("Imprimer"));
        return dialog.exec() == QDialog::Accepted;
    };
    return d;
}

void PrintReport(QWidget* parent, const TEventList& list, const TUserPrefs& prefs,
                 QPrinter& printer, bool preview, const QString& jobName, const ReportRows* shown)
{
    PrintReport(list, prefs, printer, preview, StandardReportDialogs(parent), jobName, shown);
}

void PrintReport(const TEventList& list, const TUserPrefs& prefs, QPrinter& printer, bool preview,
                 const ReportDialogs& dialogs, const QString& jobName, const ReportRows* shown)
{
    if (!list.RequireEvents() || (shown && shown->Rows.empty())) {
        dialogs.inform(ResStr::NoEvents());
        return;
    }
    TfmReport01 report(list, prefs, shown);
    // Every production (the preview, a print started from it, or the print) starts
    // from the first row again.
    const auto render = [&report](QPrinter* target) {
        const bool range = target->printRange() == QPrinter::PageRange;
        QPainter painter;
        if (!painter.begin(target))
            return; // the printer system reports its own failures
        report.paint(painter, *target, range ? target->fromPage() : 0,
                     range ? target->toPage() : 0);
        painter.end();
    };
    // A range chosen for an earlier print is forgotten: the preview shows every page
    // and the print dialog proposes them all.
    printer.setPrintRange(QPrinter::AllPages);
    printer.setFromTo(0, 0);
    if (!jobName.isEmpty())
        printer.setDocName(jobName);
    if (preview)
        dialogs.preview(printer, render);
    else if (dialogs.confirmPrint(printer))
        render(&printer);
}

} // namespace evtrak
