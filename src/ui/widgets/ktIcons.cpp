#include "ui/widgets/ktIcons.h"

// The icons are compiled into the widgets library, a static library: nothing would pull
// their resource object into the program unless it is initialised explicitly.
static void InitEvtrakResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(evtrak);
        return true;
    }();
    (void)done;
}

namespace evtrak {

QIcon ActionIcon(const char* themeName, const char* fallbackResource)
{
    InitEvtrakResources();
    const QString name = QString::fromLatin1(themeName);
    if (QIcon::hasThemeIcon(name))
        return QIcon::fromTheme(name);
    return QIcon(QString::fromLatin1(fallbackResource));
}

QIcon ActionIcon(const char* themeName)
{
    const QByteArray fallback = ":/icons/" + QByteArray(themeName) + ".png";
    return ActionIcon(themeName, fallback.constData());
}

QIcon AppIcon()
{
    InitEvtrakResources();
    return QIcon(QStringLiteral(":/icons/evtrak.png"));
}

} // namespace evtrak
