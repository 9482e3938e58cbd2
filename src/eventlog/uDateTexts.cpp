#include "eventlog/uDateTexts.h"

#include "eventlog/uTextNumbers.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace evtrak {

namespace {

constexpr qint64 kJulianDayOfZero = 2415019; // Julian day of 30/12/1899
constexpr qint64 kMsPerDay = 86400000;
constexpr qint64 kSecsPerDay = 86400;
constexpr qint64 kFirstDay = -693593; // 01/01/0001
constexpr qint64 kLastDay = 2958465;  // 31/12/9999

// Whole days and milliseconds of the day of a day count. A negative count keeps its
// time of day as an absolute fraction (-1.25 is 29/12/1899 06:00). False when not finite.
bool SplitDayCount(TDateTime value, qint64& days, qint64& msOfDay)
{
    if (!std::isfinite(value) || std::fabs(value) > 1e9)
        return false;
    const double whole = std::trunc(value);
    days = static_cast<qint64>(whole);
    msOfDay = std::llround(std::fabs(value - whole) * double(kMsPerDay));
    if (msOfDay >= kMsPerDay) { // rounded up to the next midnight
        msOfDay -= kMsPerDay;
        ++days;
    }
    return true;
}

// Howard Hinnant's civil_from_days, counted from 01/01/1970.
void CivilFromDays(qint64 z, int& y, int& m, int& d)
{
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

qint64 DaysFromCivil(int y, int m, int d)
{
    y -= m <= 2 ? 1 : 0;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool IsLeap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

char* Put2(char* p, int v)
{
    p[0] = char('0' + v / 10);
    p[1] = char('0' + v % 10);
    return p + 2;
}

// Reads blanks then 1..9 digits; digits receives how many were read.
bool ReadNumber(QStringView s, qsizetype& pos, int& value, int& digits)
{
    while (pos < s.size() && s[pos] == u' ')
        ++pos;
    value = 0;
    digits = 0;
    while (pos < s.size() && s[pos] >= u'0' && s[pos] <= u'9') {
        if (++digits > 9)
            return false;
        value = value * 10 + (s[pos].unicode() - u'0');
        ++pos;
    }
    return digits > 0;
}

bool ReadSeparator(QStringView s, qsizetype& pos, char16_t sep)
{
    while (pos < s.size() && s[pos] == u' ')
        ++pos;
    if (pos < s.size() && s[pos] == sep) {
        ++pos;
        return true;
    }
    return false;
}

bool AtEnd(QStringView s, qsizetype pos)
{
    while (pos < s.size() && s[pos] == u' ')
        ++pos;
    return pos == s.size();
}

} // namespace

TDateTime DateTimeFromQt(const QDateTime& local)
{
    if (!local.isValid())
        return 0.0;
    const qint64 days = local.date().toJulianDay() - kJulianDayOfZero;
    const double frac = local.time().msecsSinceStartOfDay() / double(kMsPerDay);
    return days >= 0 ? double(days) + frac : double(days) - frac;
}

qint64 SecondsFromDateTime(TDateTime value)
{
    qint64 days = 0;
    qint64 ms = 0;
    if (!SplitDayCount(value, days, ms) || days < kFirstDay || days > kLastDay)
        return kNoDateSeconds;
    return days * kSecsPerDay + ms / 1000; // milliseconds dropped, not rounded
}

int MillisecondOfDateTime(TDateTime value)
{
    qint64 days = 0;
    qint64 ms = 0;
    if (!SplitDayCount(value, days, ms) || days < kFirstDay || days > kLastDay)
        return -1;
    return int(ms % 1000);
}

qsizetype WriteDateTimeText(qint64 seconds, char* out)
{
    if (seconds == kNoDateSeconds)
        return 0;
    qint64 days = seconds / kSecsPerDay;
    qint64 sod = seconds % kSecsPerDay;
    if (sod < 0) {
        sod += kSecsPerDay;
        --days;
    }
    int y = 0, m = 0, d = 0;
    CivilFromDays(days - 25569, y, m, d);
    char* p = Put2(out, d);
    *p++ = '/';
    p = Put2(p, m);
    *p++ = '/';
    p = Put2(Put2(p, y / 100), y % 100);
    *p++ = ' ';
    p = Put2(p, int(sod / 3600));
    *p++ = ':';
    p = Put2(p, int(sod / 60 % 60));
    *p++ = ':';
    p = Put2(p, int(sod % 60));
    return p - out;
}

QString FormatEventDateTime(TDateTime value)
{
    char buf[kDateTimeTextLength];
    const qsizetype n = WriteDateTimeText(SecondsFromDateTime(value), buf);
    return QString::fromLatin1(buf, n);
}

TDateTime ParseEventDateTime(const QString& text, int currentYear)
{
    return ParseEventDateTime(QStringView(text), currentYear);
}

TDateTime ParseEventDateTime(QStringView s, int currentYear)
{
    qsizetype pos = 0;
    int day = 0, month = 0, year = currentYear, digits = 0;
    int hour = 0, minute = 0, second = 0;
    if (!ReadNumber(s, pos, day, digits) || !ReadSeparator(s, pos, u'/') ||
        !ReadNumber(s, pos, month, digits))
        return 0.0;
    qsizetype save = pos;
    if (ReadSeparator(s, pos, u'/')) {
        if (!ReadNumber(s, pos, year, digits))
            return 0.0;
        if (digits <= 2) {
            // Two-digit years fall in the hundred years from 50 years ago.
            const int base = currentYear - 50;
            year += base / 100 * 100;
            if (year < base)
                year += 100;
        }
    } else {
        pos = save;
    }
    if (!AtEnd(s, pos)) {
        if (!ReadNumber(s, pos, hour, digits) || !ReadSeparator(s, pos, u':') ||
            !ReadNumber(s, pos, minute, digits))
            return 0.0;
        save = pos;
        if (ReadSeparator(s, pos, u':')) {
            if (!ReadNumber(s, pos, second, digits))
                return 0.0;
        } else {
            pos = save;
        }
        if (!AtEnd(s, pos))
            return 0.0;
    }
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59)
        return 0.0;
    const qint64 days = DaysFromCivil(year, month, day) + 25569;
    const double frac = (hour * 3600 + minute * 60 + second) / double(kSecsPerDay);
    return days >= 0 ? double(days) + frac : double(days) - frac;
}

qsizetype WriteDurationText(std::int32_t ms, int format, char* out)
{
    const bool seconds = format == 1 || (format == 2 && ms >= 1000);
    if (format < 0 || format > 2)
        return 0;
    char* p = out;
    if (!seconds) {
        p = std::to_chars(p, out + kDurationTextMaxLength, ms).ptr;
        *p++ = ' ';
        *p++ = 'm';
        *p++ = 's';
        return p - out;
    }
    // "%.3f s" of ms / 1000, made with integers so the text is exactly the value.
    qint64 v = ms;
    if (v < 0) {
        *p++ = '-';
        v = -v;
    }
    p = std::to_chars(p, out + kDurationTextMaxLength, v / 1000).ptr;
    const int frac = int(v % 1000);
    *p++ = '.';
    *p++ = char('0' + frac / 100);
    *p++ = char('0' + frac / 10 % 10);
    *p++ = char('0' + frac % 10);
    *p++ = ' ';
    *p++ = 's';
    return p - out;
}

QString FormatDurationMs(std::int32_t ms, int format)
{
    char buf[kDurationTextMaxLength];
    const qsizetype n = WriteDurationText(ms, format, buf);
    return QString::fromLatin1(buf, n);
}

bool ParseDurationText(QStringView field, std::int32_t& ms)
{
    const QStringView t = field.trimmed();
    if (t.isEmpty()) {
        ms = 0;
        return true;
    }
    const auto isS = [](QChar c) { return c == u's' || c == u'S'; };
    qsizetype msAt = -1;
    qsizetype sAt = -1;
    for (qsizetype i = 0; i < t.size(); ++i) {
        if ((t[i] == u'm' || t[i] == u'M') && i + 1 < t.size() && isS(t[i + 1])) {
            msAt = i;
            break;
        }
        if (sAt < 0 && isS(t[i]))
            sAt = i;
    }
    if (msAt >= 0)
        return ReadInt32(t.left(msAt).trimmed(), ms);
    if (sAt < 0)
        return ReadInt32(t, ms);
    // Seconds, with "." or, as spreadsheets write them, "," before the decimals.
    QStringView number = t.left(sAt).trimmed();
    QString withPoint;
    if (number.contains(u',')) {
        withPoint = number.toString();
        withPoint.replace(u',', u'.');
        number = withPoint;
    }
    return ReadDecimalSecondsAsMs(number, ms, false);
}

std::int32_t ReadDurationText(const QString& text, std::int32_t fallbackMs)
{
    if (text.isEmpty())
        return fallbackMs;
    std::int32_t ms = 0;
    return ParseDurationText(text, ms) ? ms : 0;
}

QString FormatDuration(const QString& text, std::int32_t fallbackMs, int format)
{
    return FormatDurationMs(ReadDurationText(text, fallbackMs), format);
}

} // namespace evtrak
