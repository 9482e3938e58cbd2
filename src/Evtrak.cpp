// Program entry: parses the command line, then wires and runs the program.
#include "app/ktCommandLine.h"
#include "app/ktStopSignals.h"
#include "app/uCollect.h"
#include "app/uHeadless.h"
#include "export/uExport.h"
#include "ui/widgets/frmReport01.h"
#include "ui/widgets/ktTranslations.h"
#include "ui/widgets/uWindowProgram.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QStringList>
#include <QThreadPool>
#include <cstdio>

namespace {

QStringList Arguments(int argc, char* argv[])
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

// True when no platform is chosen and neither an X nor a Wayland display is there.
bool NoDisplay()
{
    return qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
           qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void Print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char* argv[])
{
    // A figures request (SIGUSR1) arriving before its handler must not end the program.
    evtrak::IgnoreFiguresSignal();
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer builds only: Qt's global pool (image and font work of the window)
    // hands work between its own threads through futex-based locks the sanitizer cannot
    // see; with one pool thread none passes between two of them.
    QThreadPool::globalInstance()->setMaxThreadCount(1);
#endif
    const evtrak::CommandLineResult cl = evtrak::ParseCommandLine(Arguments(argc, argv));
    if (cl.action == evtrak::CommandLineResult::Action::Exit) {
        Print(stdout, cl.out);
        Print(stderr, cl.err);
        return cl.exitCode;
    }
    const evtrak::CommandLineOptions& options = cl.options;
    // The evtrak.* categories are the developers' diagnostics, in English: off unless
    // --debug asks for them. QT_LOGGING_RULES is applied after these rules and wins.
    QLoggingCategory::setFilterRules(options.debug ? QStringLiteral("evtrak.*=true")
                                                   : QStringLiteral("evtrak.*=false"));

    if (options.collect) {
        QCoreApplication app(argc, argv);
        return evtrak::RunCollect(options);
    }

    if (options.headless) {
        QCoreApplication app(argc, argv);
        return evtrak::RunHeadless(options);
    }

    if (options.exportEvents()) {
        QCoreApplication app(argc, argv);
        evtrak::ExportFormat format = evtrak::ExportFormat::Csv;
        evtrak::ExportFormatFromName(options.exportFormat, &format);
        return evtrak::RunExport(format, options.exportFile, options.exportOutput);
    }

    if (options.reportToPdf()) {
        // Without a display, the PDF export still works through the offscreen platform.
        if (NoDisplay())
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        evtrak::InstallFrenchTranslations(app);
        return evtrak::RunReportToPdf(options);
    }

    if (NoDisplay()) {
        Print(stderr,
              QStringLiteral("Aucun affichage disponible pour la fenêtre d'Evtrak.\n"
                             "Utilisez « evtrak --headless » pour capturer sans fenêtre.\n"));
        return 2;
    }
    QApplication app(argc, argv);
    return evtrak::RunMainWindow(options);
}
