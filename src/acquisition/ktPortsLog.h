#pragma once
#include <QLoggingCategory>

namespace evtrak {
Q_DECLARE_LOGGING_CATEGORY(lcPorts)
} // namespace evtrak
