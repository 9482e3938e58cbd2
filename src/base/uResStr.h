#pragma once
// The program's own message texts (French, as the users know them).

#include <QString>
#include <QStringList>
#include <cerrno>
#include <cstring>

namespace evtrak::ResStr {

// Untitled names.
inline QString UntitledName()
{
    return QStringLiteral("Sans_Nom");
}
inline QString NewCaptionName()
{
    return QStringLiteral("Nouveau");
}
inline QString DefaultMainTitle()
{
    return QStringLiteral("Acquisition de données");
}

// Event list and files.
inline QString NoEvents()
{
    return QStringLiteral("Aucun évenement à traiter !");
}
inline QString AskClearAll()
{
    return QStringLiteral("Effacer vraiment tous les élements ?");
}
inline QString AskClearSelection()
{
    return QStringLiteral("Effacer vraiment les élements sélectionnés ?");
}
inline QString AskSaveModified()
{
    return QStringLiteral("Le fichier en cours a été modifié. Le sauvegarder ?");
}
// %1: file name without folder.
inline QString SaveFailed(const QString& file)
{
    return QStringLiteral("La sauvegarde dans le fichier \"%1\" n'a pas pu être effectuée.")
        .arg(file);
}
inline QString SaveFailed(const QString& file, const QString& reason)
{
    if (reason.isEmpty())
        return SaveFailed(file);
    return SaveFailed(file) + QStringLiteral("\nCause : %1.").arg(reason);
}
inline QString LoadFailed(const QString& file)
{
    return QStringLiteral("Le chargement du fichier \"%1\" n'a pas pu être effectué.").arg(file);
}
// %1: file name without folder, %2: the reason.
inline QString LoadRefused(const QString& file, const QString& reason)
{
    return QStringLiteral("Le fichier \"%1\" ne peut pas être ouvert : %2. Il n'est ni chargé "
                          "ni modifié.")
        .arg(file, reason);
}
inline QString LinesNotUnderstood(int count, const QString& file)
{
    return QStringLiteral("%1 ligne(s) du fichier \"%2\" n'ont pas été comprises. Elles sont "
                          "gardées telles quelles, à leur place, à chaque sauvegarde.")
        .arg(count)
        .arg(file);
}
inline QString AppendFailingStatus()
{
    return QStringLiteral("Non écrit !");
}
inline QString AppendFailing(const QString& file)
{
    return QStringLiteral("Écriture impossible dans \"%1\" : les évenements restent dans la "
                          "liste et seront écrits à la prochaine sauvegarde.")
        .arg(file);
}
inline QString AppendWorksAgain(const QString& file)
{
    return QStringLiteral("Écriture de nouveau possible dans \"%1\".").arg(file);
}
inline QString EventFilesFilter()
{
    return QStringLiteral("Historiques (*.txt)");
}

// Settings.
inline QString CannotWrite(const QString& file)
{
    return QStringLiteral("Impossible d'écrire dans %1").arg(file);
}
inline QString CannotWrite(const QString& file, const QString& reason)
{
    return QStringLiteral("Impossible d'écrire dans \"%1\" : %2.").arg(file, reason);
}
inline QString CannotRead(const QString& file, const QString& reason)
{
    return QStringLiteral("Lecture impossible de \"%1\" : %2.").arg(file, reason);
}
inline QString ConfFilesFilter()
{
    return QStringLiteral("Configuration des entrées (*.icf)");
}
inline QString ConfSaveCaption(const QString& file)
{
    return QStringLiteral("Sauver (%1)").arg(file);
}
inline QString CannotCreateFolder(const QString& path)
{
    return QStringLiteral("Impossible de créer le répertoire \"%1\"").arg(path);
}
inline QString OnlyParallelPorts()
{
    return QStringLiteral("Actuellement, seuls les ports parallèles (LPT1, LPT2) sont supportés.");
}

// Capture.
inline QString PortNotAccessible()
{
    return QStringLiteral("Accès au port sélectionné impossible.");
}
inline QString NotLpt()
{
    return QStringLiteral("Not LPT !");
}
inline QString InitInProgress()
{
    return QStringLiteral("Réinit. système en cours...");
}
inline QString TestInProgress()
{
    return QStringLiteral("Test système en cours...");
}
inline QString SystemReady()
{
    return QStringLiteral("Système prêt");
}
inline QString SystemNotReady()
{
    return QStringLiteral("Système non prêt !");
}
inline QString CaptureRunningStatus()
{
    return QStringLiteral("Acquisition en cours (Touche F12 pour arrêter)");
}
inline QString CaptureStoppedStatus()
{
    return QStringLiteral("Acquisition arrêtée (Touche F11 pour démarrer)");
}
inline QString CountersStatus(int capture, int total)
{
    return QStringLiteral("%1 (total : %2)").arg(capture).arg(total);
}
inline QString RecoveredEvents(int intoList, int intoDayFiles)
{
    QStringList parts;
    if (intoList > 0 || intoDayFiles == 0)
        parts << QStringLiteral("evtrak : %1 évenement(s) d'une acquisition interrompue "
                                "récupéré(s) ; ils seront sauvés avec les autres.")
                     .arg(intoList);
    if (intoDayFiles > 0)
        parts << QStringLiteral("%1%2 évenement(s) d'autres jours ont rejoint le fichier de "
                                "leur jour.")
                     .arg(parts.isEmpty() ? QStringLiteral("evtrak : ") : QString())
                     .arg(intoDayFiles);
    return parts.join(u' ');
}

inline QString TornLineCut(const QString& file)
{
    return QStringLiteral("evtrak : la fin de %1, écrite à moitié par un arrêt brutal, est "
                          "retirée ; ses évenements sont repris du journal.")
        .arg(file);
}

inline QString AskRecoverJournal(int count)
{
    return QStringLiteral("Des évenements d'une acquisition interrompue ont été retrouvés (%1). "
                          "Les récupérer ?")
        .arg(count);
}

inline QString JournalKeptAside(const QString& file)
{
    return QStringLiteral("Les évenements retrouvés sont conservés dans le fichier \"%1\". "
                          "Ils peuvent être repris plus tard par \"Fichier > Récupérer un "
                          "journal...\".")
        .arg(file);
}

inline QString RecoverJournalTitle()
{
    return QStringLiteral("Récupérer un journal");
}

inline QString JournalRecovered(int count, const QString& file)
{
    return QStringLiteral("%1 évenement(s) du journal \"%2\" ont rejoint la liste.")
        .arg(count)
        .arg(file);
}

inline QString NoEventInJournal(const QString& file)
{
    return QStringLiteral("Aucun évenement à récupérer dans le fichier \"%1\".").arg(file);
}

inline QString ExportWritten(const QString& file)
{
    return QStringLiteral("Export enregistré dans \"%1\".").arg(file);
}

inline QString AskStopCapture()
{
    return QStringLiteral("Acquisition en cours !\n\nArrêter l'acquisition et quitter ?\n"
                          "(si vous décidez de quitter, il vous sera proposé de réaliser\n"
                          "la sauvegarde du fichier en cours si celà est nécessaire).");
}

// Help.
inline QString HelpIndexHint()
{
    return QStringLiteral("Index de l'aide");
}
inline QString HelpMissingHint()
{
    return QStringLiteral("Index de l'aide\n[Fichier d'aide non localisé]");
}

// Report.
inline QString NoSubTitle()
{
    return QStringLiteral("<Sous-titre utilisateur non défini>");
}
inline QString ContinuedSuffix()
{
    return QStringLiteral(" (suite)");
}

} // namespace evtrak::ResStr
