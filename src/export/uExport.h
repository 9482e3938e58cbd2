#pragma once
// Exports of the event list for other tools: CSV for spreadsheets, VCD (value change
// dump) for waveform viewers. Both read the rows' texts, as shown and saved.

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace evtrak {

class TEventList;

enum class ExportFormat
{
    Csv,
    Vcd
};

// "csv" / "vcd" (any case); false for anything else.
bool ExportFormatFromName(const QString& name, ExportFormat* format);

// UTF-8 with a BOM, ';' between fields, CR LF after each line, a header line, then one
// line per row in list order: date (dd/mm/yyyy), time (hh:mm:ss), label without its
// " [ON]"/" [OFF]" suffix, state ("ON", "OFF" or empty), input, duration in ms, duration
// in seconds with a decimal comma. Fields are quoted where they need it.
QByteArray ExportCsv(const TEventList& list);

// One 1-bit wire per input present, named after its label; timescale 1 ms; time 0 is
// one second before the first change, and its date-time is written in a comment. Rows
// with a state suffix are edges; rows without are pulses that end at the row's time and
// last its duration. Rows captured in this run are placed to the millisecond; rows read
// from a file (whole seconds) are laid out from their durations within their second.
// One input never changes twice at the same instant. now is written as the dump's date.
QByteArray ExportVcd(const TEventList& list, const QDateTime& now);

// Writes bytes into path through a temporary file renamed into place: an earlier file
// of that name stays whole when writing fails, and only a regular file is ever replaced
// (never a FIFO, a socket, a device or a folder). False with a French message otherwise.
bool WriteExportFile(const QString& path, const QByteArray& bytes, QString* error);

// `evtrak --export csv|vcd EVENTFILE OUTPUT`: reads the event file, writes the export.
// Returns 0, or 2 with a French message on stderr (unreadable or empty event file,
// output that cannot be written or that is the event file itself).
int RunExport(ExportFormat format, const QString& eventFile, const QString& output);

} // namespace evtrak
