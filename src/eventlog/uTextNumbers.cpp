#include "eventlog/uTextNumbers.h"

#include <limits>

namespace evtrak {

namespace {

constexpr std::int64_t kBig = std::int64_t(1) << 40; // far beyond the 32-bit range

bool IsDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

qsizetype SkipBlanks(QStringView s, qsizetype pos)
{
    while (pos < s.size() && (s[pos] == u' ' || s[pos] == u'\t'))
        ++pos;
    return pos;
}

std::int32_t Saturate(std::int64_t v)
{
    if (v > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return std::int32_t(v);
}

} // namespace

bool ReadInt32(QStringView s, std::int32_t& value)
{
    qsizetype pos = SkipBlanks(s, 0);
    bool negative = false;
    if (pos < s.size() && (s[pos] == u'-' || s[pos] == u'+'))
        negative = s[pos++] == u'-';
    if (pos == s.size())
        return false;
    std::int64_t v = 0;
    for (; pos < s.size(); ++pos) {
        if (!IsDigit(s[pos]))
            return false;
        v = v * 10 + (s[pos].unicode() - u'0');
        if (v > kBig)
            return false;
    }
    v = negative ? -v : v;
    if (v != Saturate(v))
        return false;
    value = std::int32_t(v);
    return true;
}

std::int32_t SaturatedMs(QStringView digits, bool negative)
{
    std::int64_t v = 0;
    for (QChar c : digits) {
        if (!IsDigit(c))
            continue;
        v = v * 10 + (c.unicode() - u'0');
        if (v > kBig)
            v = kBig;
    }
    return Saturate(negative ? -v : v);
}

bool ReadDecimalSecondsAsMs(QStringView s, std::int32_t& ms, bool leadingNumberOnly)
{
    qsizetype pos = SkipBlanks(s, 0);
    bool negative = false;
    if (pos < s.size() && (s[pos] == u'-' || s[pos] == u'+'))
        negative = s[pos++] == u'-';
    // The significant digits with the decimal point's place: value = mantissa * 10^scale.
    std::int64_t mantissa = 0;
    int scale = 0;
    int digits = 0;
    bool overflow = false;
    for (; pos < s.size() && IsDigit(s[pos]); ++pos, ++digits) {
        if (mantissa < kBig)
            mantissa = mantissa * 10 + (s[pos].unicode() - u'0');
        else {
            ++scale; // further integer digits only multiply
            overflow = true;
        }
    }
    if (pos < s.size() && s[pos] == u'.') {
        ++pos;
        for (; pos < s.size() && IsDigit(s[pos]); ++pos, ++digits) {
            if (mantissa < kBig) {
                mantissa = mantissa * 10 + (s[pos].unicode() - u'0');
                --scale;
            }
        }
    }
    if (digits == 0)
        return false;
    if (pos < s.size() && (s[pos] == u'e' || s[pos] == u'E')) {
        qsizetype p = pos + 1;
        bool expNegative = false;
        if (p < s.size() && (s[p] == u'-' || s[p] == u'+'))
            expNegative = s[p++] == u'-';
        if (p < s.size() && IsDigit(s[p])) {
            int e = 0;
            for (; p < s.size() && IsDigit(s[p]); ++p)
                e = e < 1000 ? e * 10 + (s[p].unicode() - u'0') : e;
            scale += expNegative ? -e : e;
            pos = p;
        }
    }
    if (!leadingNumberOnly && SkipBlanks(s, pos) != s.size())
        return false;
    scale += 3; // seconds to milliseconds
    std::int64_t v = mantissa;
    for (; scale > 0 && v != 0; --scale) {
        v *= 10;
        if (v > kBig) {
            overflow = true;
            break;
        }
    }
    for (; scale < 0 && v != 0; ++scale)
        v /= 10; // truncation toward zero
    if (overflow)
        v = kBig;
    v = negative ? -v : v;
    if (!leadingNumberOnly && v != Saturate(v))
        return false;
    ms = Saturate(v);
    return true;
}

} // namespace evtrak
