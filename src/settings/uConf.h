#pragma once
// The configuration commands' state: the current configuration file, the folder the
// configuration dialogs open in, and the caption of the "Sauver" menu item.

#include "settings/uUserPrefs.h"

#include <QObject>
#include <QString>

namespace evtrak {

class TConf : public QObject
{
    Q_OBJECT
public:
    // confDir: the folder the dialogs first open in (the program's folder).
    explicit TConf(const QString& confDir = QString(), QObject* parent = nullptr);

    // "Sans_Nom" until a configuration is loaded or saved.
    QString ConfFileName() const { return m_confFileName; }
    // True once a configuration was loaded or saved: "Sauver" then needs no dialog.
    bool HasConfFile() const;
    QString ConfDir() const { return m_confDir; }
    void SetConfDir(const QString& dir) { m_confDir = dir; }

    // Makes name the current configuration; the menu item reads "Sauver (<file name>)".
    void SetConfFileName(const QString& name);
    QString SaveMenuCaption() const { return m_caption; }

    // Reads fileName into prefs (a missing file gives the defaults) and makes it the
    // current configuration. Returns false, changing nothing, when the file exists but
    // cannot be read (reason, when given, says why, in French). The caller runs
    // ApplyUserPrefs after a successful load.
    bool LoadConf(TUserPrefs& prefs, const QString& fileName, ColumnWidthStore* columns,
                  QString* reason = nullptr);
    // Writes prefs into fileName and makes it the current configuration. On failure the
    // current configuration stays and the message "Impossible d'écrire dans ..." is
    // returned; an empty string means success.
    QString SaveConf(const TUserPrefs& prefs, const QString& fileName,
                     const ColumnWidthStore* columns);
    // SaveConf, then the dialogs open in the folder of fileName.
    QString SaveConfAs(const TUserPrefs& prefs, const QString& fileName,
                       const ColumnWidthStore* columns);

Q_SIGNALS:
    void SaveMenuCaptionChanged(const QString& caption);

private:
    QString m_confFileName;
    QString m_confDir;
    QString m_caption;
};

} // namespace evtrak
