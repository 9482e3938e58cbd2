#include "base/ktMisc.h"

#include <QStringDecoder>
#include <cstdio>

namespace evtrak {

namespace {
// Unicode of the Windows-1252 bytes 0x80..0x9F (0 where the code page has none; those
// bytes map to the C1 control of the same value, as Windows does).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsAscii(QByteArrayView bytes)
{
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}
} // namespace

QString DecodeText(QByteArrayView bytes)
{
    if (IsAscii(bytes))
        return QString::fromLatin1(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8.decode(bytes);
    if (!utf8.hasError())
        return s;
    return DecodeWindows1252(bytes);
}

QString DecodeWindows1252(QByteArrayView bytes)
{
    QString s(bytes.size(), Qt::Uninitialized);
    QChar* out = s.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        char16_t u = b;
        if (b >= 0x80 && b <= 0x9F && kCp1252High[b - 0x80] != 0)
            u = kCp1252High[b - 0x80];
        out[i] = QChar(u);
    }
    return s;
}

QByteArray EncodeText(QStringView text)
{
    QByteArray out(text.size(), Qt::Uninitialized);
    char* p = out.data();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            p[i] = static_cast<char>(u);
            continue;
        }
        char b = '?';
        for (int k = 0; k < 32; ++k)
            if (kCp1252High[k] == u && u != 0) {
                b = static_cast<char>(0x80 + k);
                break;
            }
        if (b == '?' && u >= 0x80 && u <= 0x9F)
            b = static_cast<char>(u);
        p[i] = b;
    }
    return out;
}

QByteArray EncodeLineText(QStringView text)
{
    QByteArray bytes = EncodeText(text);
    if (DecodeText(bytes) == text)
        return bytes;
    return text.toUtf8();
}

void PrintErr(const QString& text)
{
    const QByteArray bytes = (text + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace evtrak
