#include "eventlog/uEventLine.h"

#include <charconv>
#include <cstring>

namespace evtrak {

namespace {
// A duration shown without text is written in ms, so the value is not lost.
int FileFormat(int format)
{
    return format >= 0 && format <= 2 ? format : 0;
}
} // namespace

QStringView SuffixText(EventSuffix suffix)
{
    return suffix == OnSuffix ? u" [ON]" : suffix == OffSuffix ? u" [OFF]" : u"";
}

QString EventLineText(QStringView label, EventSuffix suffix, std::int32_t input, qint64 seconds,
                      std::int32_t durationMs, int durationFormat)
{
    char date[kDateTimeTextLength];
    char duration[kDurationTextMaxLength];
    const qsizetype dateLength = WriteDateTimeText(seconds, date);
    const qsizetype durationLength =
        WriteDurationText(durationMs, FileFormat(durationFormat), duration);
    return label + SuffixText(suffix) + u';' + QString::number(input) + u';' +
           QLatin1StringView(date, dateLength) + u';' + QLatin1StringView(duration, durationLength);
}

void EventLineWriter::Append(QByteArray& out, QByteArrayView label, EventSuffix suffix,
                             std::int32_t input, qint64 seconds, std::int32_t durationMs,
                             int durationFormat)
{
    char buf[128];
    char* p = buf;
    if (label.size() <= 48) {
        if (!label.isEmpty()) // an empty view may hold no pointer at all
            std::memcpy(p, label.data(), std::size_t(label.size()));
        p += label.size();
    } else {
        out += label;
    }
    if (suffix == OnSuffix)
        p = std::copy_n(" [ON]", 5, p);
    else if (suffix == OffSuffix)
        p = std::copy_n(" [OFF]", 6, p);
    *p++ = ';';
    p = std::to_chars(p, buf + sizeof buf, input).ptr;
    *p++ = ';';
    if (seconds != kNoDateSeconds) {
        const qint64 sod = ((seconds % 86400) + 86400) % 86400;
        if (seconds - sod != m_day) {
            m_day = seconds - sod;
            WriteDateTimeText(m_day, m_date);
        }
        p = std::copy_n(m_date, 11, p); // "dd/mm/yyyy "
        const int h = int(sod / 3600), m = int(sod / 60 % 60), sec = int(sod % 60);
        const char hms[8] = {char('0' + h / 10),   char('0' + h % 10),  ':',
                             char('0' + m / 10),   char('0' + m % 10),  ':',
                             char('0' + sec / 10), char('0' + sec % 10)};
        p = std::copy_n(hms, 8, p);
    }
    *p++ = ';';
    p += WriteDurationText(durationMs, FileFormat(durationFormat), p);
    *p++ = '\r';
    *p++ = '\n';
    out.append(buf, p - buf);
}

} // namespace evtrak
