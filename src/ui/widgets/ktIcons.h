#pragma once

#include <QIcon>

namespace evtrak {

// The desktop theme's icon of that name, or the program's own drawing of it
// (":/icons/<themeName>.png") when the theme has none.
QIcon ActionIcon(const char* themeName);
// The same with an explicit fallback resource.
QIcon ActionIcon(const char* themeName, const char* fallbackResource);

// The program's own icon.
QIcon AppIcon();

} // namespace evtrak
