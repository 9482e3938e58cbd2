#pragma once
// Date-time and duration texts shared by the event list and the event files.

#include "base/uClock.h"

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <limits>

namespace evtrak {

// Days since 30/12/1899 00:00:00 in local time; the fraction is the time of day.
using TDateTime = double;

TDateTime DateTimeFromQt(const QDateTime& local);

// "dd/mm/yyyy hh:nn:ss"; milliseconds dropped (never rounded up). Empty on failure.
QString FormatEventDateTime(TDateTime value);

// Reads "d/m[/y] [h:n[:s]]"; 0 when unreadable. One- or two-digit years fall in the
// hundred years that begin 50 years before currentYear.
TDateTime ParseEventDateTime(const QString& text, int currentYear);
TDateTime ParseEventDateTime(QStringView text, int currentYear);

// Formats d ms by LogDurationFormat: 0 "%d ms", 1 "%.3f s", 2 ms below 1000 else s,
// anything else empty. "." is the decimal separator whatever the locale.
QString FormatDurationMs(std::int32_t ms, int format);

// The one reading of a duration text, for event files and the list: "<n> ms" (integer),
// "<x> s" (decimal seconds, "." or "," before the decimals, truncated to whole ms, read
// exactly: "1.003 s" is 1003), a bare integer of ms, or an empty text (0 ms). Units in any
// case, blanks around the number allowed. False when the text is none of these.
bool ParseDurationText(QStringView text, std::int32_t& ms);

// A duration text read back into ms by ParseDurationText; an empty text gives the
// fallback, an unreadable one 0.
std::int32_t ReadDurationText(const QString& text, std::int32_t fallbackMs);

// FormatDuration: when text is empty formats the fallback, else reads the text back
// and formats that.
QString FormatDuration(const QString& text, std::int32_t fallbackMs, int format);

// Building blocks for code that renders many rows (the event list and its files).
// A date-time as whole seconds since 30/12/1899 00:00:00 (what its text shows);
// kNoDateSeconds for a value that has no text (not finite, year outside 1..9999).
inline constexpr qint64 kNoDateSeconds = std::numeric_limits<qint64>::min();
// What a date-time that could not be read becomes (30/12/1899 00:00:00, the zero date):
// lists keep it as it was, exports and reports treat it as no date.
inline constexpr qint64 kUnreadDateSeconds = 0;
inline constexpr qsizetype kDateTimeTextLength = 19;
inline constexpr qsizetype kDurationTextMaxLength = 24;
qint64 SecondsFromDateTime(TDateTime value);
// The milliseconds SecondsFromDateTime drops (0..999); -1 when it gives kNoDateSeconds.
int MillisecondOfDateTime(TDateTime value);
// Writes the "dd/mm/yyyy hh:nn:ss" text of seconds into out (kDateTimeTextLength bytes
// at least); returns its length (0 for kNoDateSeconds).
qsizetype WriteDateTimeText(qint64 seconds, char* out);
// Writes the duration text into out (kDurationTextMaxLength bytes); returns its length.
qsizetype WriteDurationText(std::int32_t ms, int format, char* out);

} // namespace evtrak
