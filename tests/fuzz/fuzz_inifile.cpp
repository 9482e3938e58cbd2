// Any bytes as a settings file: reading never fails, and a value written reads back as
// written (line breaks as blanks) while the rest of the file stays readable.
#include "settings/ktIniFile.h"
#include "settings/uUserPrefs.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstdlib>
#include <unistd.h>

using namespace evtrak;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const QString path =
        QDir::tempPath() + QStringLiteral("/evtrak-fuzz-%1.ini").arg(::getpid());
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            return 0;
    }
    TUserPrefs prefs = DefaultUserPrefs();
    if (!ReadUserPrefs(prefs, path, nullptr))
        std::abort(); // a regular file is always readable
    TUserPrefs again = DefaultUserPrefs();
    TIniFile ini(path);
    // The value: printable ASCII made from the input's first bytes, with its line
    // breaks, NULs, blanks and quotes.
    QString value;
    for (qsizetype i = 0; i < std::min<qsizetype>(bytes.size(), 64); ++i) {
        char c = char(bytes[i] & 0x7F);
        if (c < 0x20 && c != '\r' && c != '\n' && c != '\0')
            c = char('a' + c % 26);
        value += QLatin1Char(c == 0x7F ? '"' : c);
    }
    ini.WriteString(QStringLiteral("UserPrefs"), QStringLiteral("LogEvent3Label"), value);
    {
        QFile f(path);
        const QByteArray edited = ini.ToBytes();
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(edited) != edited.size())
            return 0;
    }
    const TIniFile reread(path);
    QString expected = value;
    for (QChar& c : expected)
        if (c == u'\r' || c == u'\n' || c == u'\0')
            c = u' ';
    if (reread.ReadString(QStringLiteral("UserPrefs"), QStringLiteral("LogEvent3Label"),
                          QStringLiteral("<missing>")) != expected)
        std::abort();
    if (!ReadUserPrefs(again, path, nullptr))
        std::abort();
    return 0;
}
