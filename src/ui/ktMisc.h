#pragma once
// Small file operations shared by the program.

#include <QByteArray>
#include <QString>

namespace evtrak {

// Text files on disk are Windows-1252. A file that is valid UTF-8 (edited on Linux) is
// read as UTF-8; anything else byte for byte as Windows-1252 (never fails).
QString DecodeText(QByteArrayView bytes);
// Windows-1252 bytes; a character with no Windows-1252 byte becomes '?'.
QByteArray EncodeText(QStringView text);

} // namespace evtrak
