#pragma once
// Small file operations shared by the program.

#include <QByteArray>
#include <QString>

namespace evtrak {

// One line of text for the user on standard error (UTF-8, flushed at once).
void PrintErr(const QString& text);

// Text files on disk are Windows-1252. A file that is valid UTF-8 (edited on Linux) is
// read as UTF-8; anything else byte for byte as Windows-1252 (never fails).
QString DecodeText(QByteArrayView bytes);
// The bytes as Windows-1252 text, whatever they hold.
QString DecodeWindows1252(QByteArrayView bytes);
// Windows-1252 bytes; a character with no Windows-1252 byte becomes '?'.
QByteArray EncodeText(QStringView text);
// The bytes of one line of a line-based file that is read line by line with DecodeText:
// Windows-1252, unless those bytes would read back as another text (a character the
// code page lacks, or bytes that happen to form UTF-8); UTF-8 then.
QByteArray EncodeLineText(QStringView text);

} // namespace evtrak
