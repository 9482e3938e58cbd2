#include "settings/uConf.h"

#include "base/uResStr.h"

#include <QFileInfo>

namespace evtrak {

TConf::TConf(const QString& confDir, QObject* parent)
    : QObject(parent), m_confFileName(ResStr::UntitledName()), m_confDir(confDir),
      m_caption(ResStr::ConfSaveCaption(ResStr::UntitledName()))
{}

bool TConf::HasConfFile() const
{
    return m_confFileName != ResStr::UntitledName();
}

void TConf::SetConfFileName(const QString& name)
{
    m_confFileName = name;
    const QString caption = ResStr::ConfSaveCaption(QFileInfo(name).fileName());
    if (caption == m_caption)
        return;
    m_caption = caption;
    Q_EMIT SaveMenuCaptionChanged(m_caption);
}

bool TConf::LoadConf(TUserPrefs& prefs, const QString& fileName, ColumnWidthStore* columns,
                     QString* reason)
{
    if (!ReadUserPrefs(prefs, fileName, columns, reason))
        return false;
    SetConfFileName(fileName);
    return true;
}

QString TConf::SaveConf(const TUserPrefs& prefs, const QString& fileName,
                        const ColumnWidthStore* columns)
{
    const QString error = WriteUserPrefs(prefs, fileName, columns);
    if (error.isEmpty())
        SetConfFileName(fileName);
    return error;
}

QString TConf::SaveConfAs(const TUserPrefs& prefs, const QString& fileName,
                          const ColumnWidthStore* columns)
{
    const QString error = SaveConf(prefs, fileName, columns);
    if (error.isEmpty())
        SetConfDir(QFileInfo(fileName).absolutePath());
    return error;
}

} // namespace evtrak
