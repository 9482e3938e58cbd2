#include "ui/ktIcons.h"

namespace evtrak {

QIcon ActionIcon(const char* themeName, const char* fallbackResource)
{
    const QString name = QString::fromLatin1(themeName);
    if (QIcon::hasThemeIcon(name))
        return QIcon::fromTheme(name);
    return QIcon(QString::fromLatin1(fallbackResource));
}

QIcon ActionIcon(const char* themeName)
{
    const QString fallback = QStringLiteral(":/icons/%1.png").arg(QString::fromLatin1(themeName));
    const QString name = QString::fromLatin1(themeName);
    if (QIcon::hasThemeIcon(name))
        return QIcon::fromTheme(name);
    return QIcon(fallback);
}

QIcon AppIcon()
{
    return QIcon(QStringLiteral(":/icons/evtrak.png"));
}

} // namespace evtrak
