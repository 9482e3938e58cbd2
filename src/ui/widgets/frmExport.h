#pragma once
// The "Exporter en CSV..." and "Exporter en VCD..." commands.

#include "export/uExport.h"

#include <QString>

namespace evtrak {

class TEventList;
class WindowPrompt;

// An empty list shows "Aucun évenement à traiter !"; otherwise asks prompt for the file,
// writes it and shows any failure in a box. Returns the file written, empty when none was.
QString ExportEventList(WindowPrompt& prompt, const TEventList& list, ExportFormat format);

} // namespace evtrak
