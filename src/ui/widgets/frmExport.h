#pragma once
// The "Exporter en CSV..." and "Exporter en VCD..." commands.

#include "export/uExport.h"

#include <QDateTime>
#include <QString>
#include <functional>

class QWidget;

namespace evtrak {

class TEventList;

// An empty list shows "Aucun évenement à traiter !"; otherwise asks for the file
// (askFile replaces the file dialog in tests: empty for cancel), writes it and shows
// any failure in a box (inform, likewise).
void ExportEventList(QWidget* parent, const TEventList& list, ExportFormat format,
                     const std::function<QString(const QString& suggested)>& askFile = {},
                     const std::function<void(const QString& text)>& inform = {});

} // namespace evtrak
