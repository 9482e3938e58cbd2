#pragma once
// What an event label may hold. Labels end up in ';'-separated, line-based event files.

#include <QString>
#include <QStringView>

namespace evtrak {

// Any character but ';' (the field separator) and the control characters (line breaks,
// and 0x1A, which ends an event file on reading); a tab is allowed.
bool IsLabelChar(QChar c);
bool IsValidLabel(QStringView label);
// label with every character it may not hold replaced by a blank.
QString SanitizedLabel(const QString& label);

} // namespace evtrak
