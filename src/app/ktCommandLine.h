#pragma once
// The command line:
//   evtrak [--demo | --port-device PATH]            windowed program
//   evtrak --headless [--demo | --port-device PATH] [--mqtt HOST[:PORT]]
//                                                   capture without a window
//   evtrak --collect [--mqtt HOST[:PORT]]          collect the stations' events
//   evtrak --report EVENTFILE --pdf OUTPUT.pdf      print an event file to PDF
//   evtrak --export csv|vcd EVENTFILE OUTPUT        export an event file
//   evtrak --help | --version
// --debug may be added to any form.

#include <QString>
#include <QStringList>

namespace evtrak {

struct CommandLineOptions
{
    bool headless = false;
    bool collect = false; // --collect: the site's collector
    bool demo = false;    // built-in simulated parallel port
    bool debug = false;   // --debug: the developers' diagnostics on standard error
    QString portDevice;   // a file used like /dev/port (empty: normal port access)
    QString reportFile;   // --report: the event file to print
    QString pdfFile;      // --pdf: where to write the report
    QString mqttHost;     // --mqtt: this broker (headless or collector)
    int mqttPort = 0;     // its port; 0: the default (1883, or 8883 with TLS)
    QString exportFormat; // --export: "csv" or "vcd" (lower case)
    QString exportFile;   // the event file to export
    QString exportOutput; // where to write the export
    bool reportToPdf() const { return !reportFile.isEmpty(); }
    bool exportEvents() const { return !exportFormat.isEmpty(); }
};

struct CommandLineResult
{
    enum class Action
    {
        Run,
        Exit
    };
    Action action = Action::Run;
    int exitCode = 0; // for Exit: 0 (--help, --version) or 2 (bad command line)
    QString out;      // text for stdout (help, version)
    QString err;      // text for stderr (the error, one line, French)
    CommandLineOptions options;
};

// Parses arguments (arguments[0] is the program). Never exits the process itself.
CommandLineResult ParseCommandLine(const QStringList& arguments);

} // namespace evtrak
