#pragma once

class QCoreApplication;

namespace evtrak {

// Loads Qt's own French texts so that standard buttons and dialogs read "Oui", "Non",
// "Annuler"... Missing translation files leave the English texts.
void InstallFrenchTranslations(QCoreApplication& app);

} // namespace evtrak
