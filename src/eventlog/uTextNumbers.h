#pragma once
// Strict readers for the numbers of event texts. Decimal values are read exactly (no
// binary floating point), so "1.003 s" is 1003 ms.

#include <QStringView>
#include <cstdint>

namespace evtrak {

// Optional leading blanks, optional sign, decimal digits and nothing else, within the
// 32-bit range.
bool ReadInt32(QStringView text, std::int32_t& value);

// A decimal number of seconds ([sign] digits [. digits] [e [sign] digits], "." as the
// separator) times 1000, truncated toward zero. With leadingNumberOnly, characters after
// the number are ignored; otherwise the whole text (blanks around it allowed) must be the
// number. False when there is no number or the result leaves the 32-bit range (with
// leadingNumberOnly the result saturates instead).
bool ReadDecimalSecondsAsMs(QStringView text, std::int32_t& ms, bool leadingNumberOnly);

// A run of decimal digits as a value, saturated to the 32-bit range.
std::int32_t SaturatedMs(QStringView digits, bool negative);

} // namespace evtrak
