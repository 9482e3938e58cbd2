#include "base/uLabelText.h"

#include <algorithm>

namespace evtrak {

bool IsLabelChar(QChar c)
{
    return c != u';' && (c.unicode() >= 0x20 || c == u'\t') && c.unicode() != 0x7F;
}

bool IsValidLabel(QStringView label)
{
    return std::all_of(label.begin(), label.end(), IsLabelChar);
}

QString SanitizedLabel(const QString& label)
{
    if (IsValidLabel(label))
        return label;
    QString out = label;
    for (QChar& c : out)
        if (!IsLabelChar(c))
            c = u' ';
    return out;
}

} // namespace evtrak
