#include "eventlog/uSavingPolicy.h"

#include "eventlog/uEventFile.h"
#include "ui/uResStr.h"

#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcSaving, "evtrak.saving")

namespace evtrak {

namespace {
// After a failed save at the day change, the next try waits this long.
constexpr qint64 kDayChangeRetryMs = 60 * 1000;
} // namespace

struct TSavingPolicy::Impl
{
    TEventList& List;
    const TUserPrefs& Prefs;
    UserPrompt& Prompt;
    const Clock& Clk;
    std::function<bool()> CaptureRunning;
    QString LogDir;
    QString DailyFile;
    QDateTime StartTime;
    QString CurrentFile;
    QString Caption;
    QDateTime NextDayChangeTry;     // invalid: no failed day change pending
    bool LastSaveCancelled = false; // the last FileSave/FileSaveAs ended in a cancelled dialog

    Impl(TEventList& list, const TUserPrefs& prefs, UserPrompt& prompt, const Clock& clock)
        : List(list), Prefs(prefs), Prompt(prompt), Clk(clock)
    {}

    bool Capturing() const { return CaptureRunning && CaptureRunning(); }
};

TSavingPolicy::TSavingPolicy(TEventList& list, const TUserPrefs& prefs, UserPrompt& prompt,
                             const Clock& clock, QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>(list, prefs, prompt, clock))
{
    // Captured events go to the current file at once when per-event saving is on.
    list.setAppendHook([this](const QStringList& lines) { return AppendLastEvent(lines); });
}

TSavingPolicy::~TSavingPolicy()
{
    d->List.setAppendHook({});
}

void TSavingPolicy::setCaptureRunningQuery(std::function<bool()> running)
{
    d->CaptureRunning = std::move(running);
}

QString TSavingPolicy::LogDir() const
{
    return d->LogDir;
}

void TSavingPolicy::SetLogDir(const QString& dir)
{
    d->LogDir = dir;
    if (!d->LogDir.isEmpty() && !d->LogDir.endsWith(u'/'))
        d->LogDir += u'/';
}

QString TSavingPolicy::DailyFile() const
{
    return d->DailyFile;
}

QDateTime TSavingPolicy::StartTime() const
{
    return d->StartTime;
}

void TSavingPolicy::InitDay()
{
    d->StartTime = d->Clk.now();
    d->DailyFile = DailyFileName();
}

QString TSavingPolicy::CurrentEventFile() const
{
    return d->CurrentFile;
}

void TSavingPolicy::SetCurrentEventFile(const QString& name)
{
    d->CurrentFile = name;
    const QString shown = name.isEmpty() ? ResStr::NewCaptionName() : QFileInfo(name).fileName();
    d->Caption = QStringLiteral("%1 - [%2]").arg(d->Prefs.AppMainTitle, shown);
    Q_EMIT currentFileChanged(name);
    Q_EMIT captionChanged(d->Caption);
}

QString TSavingPolicy::Caption() const
{
    return d->Caption;
}

bool TSavingPolicy::SaveEventFile(const QString& name)
{
    if (!name.isEmpty() && evtrak::SaveEventFile(d->List, name, d->Prefs.LogSaveMakeBackup)) {
        SetCurrentEventFile(name);
        d->List.SetModified(false);
        Q_EMIT fileSaved(name);
        return true;
    }
    qCWarning(lcSaving) << "save failed:" << name;
    if (d->Prefs.MiscShowErrorMessages && !d->Capturing())
        d->Prompt.Inform(ResStr::SaveFailed(QFileInfo(name).fileName()));
    return false;
}

bool TSavingPolicy::LoadEventFile(const QString& name)
{
    const bool ok = evtrak::LoadEventFile(d->List, name, d->Clk.now().date().year());
    // No box while capturing: the day change loads inside the capture's delivery.
    if (!ok && d->Prefs.MiscShowErrorMessages && !d->Capturing())
        d->Prompt.Inform(ResStr::LoadFailed(QFileInfo(name).fileName()));
    if (!ok)
        qCWarning(lcSaving) << "load failed:" << name;
    SetCurrentEventFile(name);
    d->List.SetModified(false);
    return ok;
}

bool TSavingPolicy::AppendLastEvent(const QStringList& lines)
{
    if (d->CurrentFile.isEmpty() || !AppendEventLines(d->CurrentFile, lines))
        return false;
    d->List.SetModified(false);
    return true;
}

bool TSavingPolicy::SaveIfModified(bool ask)
{
    if (!d->List.Modified())
        return true;
    if (ask) {
        switch (d->Prompt.AskYesNoCancel(ResStr::AskSaveModified())) {
        case Answer::No:
            return true;
        case Answer::Cancel:
            return false;
        case Answer::Yes:
            break;
        }
    }
    // A save that failed keeps the caller from dropping the rows; a Save As dialog the
    // user cancelled lets it go on.
    if (FileSave())
        return true;
    return !d->List.Modified() || d->LastSaveCancelled;
}

bool TSavingPolicy::NewEventFile(const QString& name)
{
    if (!SaveIfModified(true))
        return false;
    d->List.ClearEvents();
    SetCurrentEventFile(name);
    d->List.SetModified(false);
    return true;
}

QString TSavingPolicy::DailyFileName() const
{
    return d->LogDir + d->Clk.now().date().toString(QStringLiteral("yyyy_MM_dd")) +
           QStringLiteral(".txt");
}

bool TSavingPolicy::DayChanged() const
{
    return d->Clk.now().date() > d->StartTime.date();
}

void TSavingPolicy::OpenDailyFile()
{
    if (d->DailyFile.isEmpty())
        InitDay();
    if (QFileInfo::exists(d->DailyFile))
        LoadEventFile(d->DailyFile);
    else
        NewEventFile(d->DailyFile);
}

void TSavingPolicy::AdoptDailyFileAtCaptureStart()
{
    if (!d->Prefs.LogSaveAutoOnNewDay || QFileInfo::exists(d->CurrentFile))
        return;
    d->DailyFile = DailyFileName();
    SetCurrentEventFile(d->DailyFile);
}

bool TSavingPolicy::CheckDayChange()
{
    if (!d->Prefs.LogSaveAutoOnNewDay || !DayChanged())
        return false;
    const QDateTime now = d->Clk.now();
    if (d->NextDayChangeTry.isValid() && now < d->NextDayChangeTry)
        return false;
    // The rows go to the file they belong to before the list moves on to the new day.
    // When that fails nothing is dropped: the list and its file stay, and the switch is
    // tried again a little later.
    if (!SaveEventFile(d->CurrentFile)) {
        d->NextDayChangeTry = now.addMSecs(kDayChangeRetryMs);
        qCWarning(lcSaving) << "day change postponed: cannot save" << d->CurrentFile;
        return false;
    }
    d->NextDayChangeTry = QDateTime();
    d->StartTime = now;
    d->DailyFile = DailyFileName();
    if (QFileInfo::exists(d->DailyFile)) {
        LoadEventFile(d->DailyFile);
    } else {
        // The list was just saved: no question to ask.
        d->List.ClearEvents();
        SetCurrentEventFile(d->DailyFile);
        d->List.SetModified(false);
    }
    return true;
}

bool TSavingPolicy::FileNew()
{
    return NewEventFile(ResStr::UntitledName());
}

bool TSavingPolicy::FileOpen(const QString& chosenFile)
{
    if (chosenFile.isEmpty() || !SaveIfModified(true))
        return false;
    return LoadEventFile(chosenFile);
}

bool TSavingPolicy::FileSave()
{
    d->LastSaveCancelled = false;
    if (d->CurrentFile != ResStr::UntitledName())
        return SaveEventFile(d->CurrentFile);
    return FileSaveAs();
}

bool TSavingPolicy::FileSaveAs()
{
    d->LastSaveCancelled = false;
    const QString name = d->Prompt.ChooseEventFileToSave(d->LogDir, ResStr::UntitledName());
    if (name.isEmpty()) {
        d->LastSaveCancelled = true;
        return false;
    }
    if (!SaveEventFile(name))
        return false;
    SetLogDir(QFileInfo(name).absolutePath());
    return true;
}

bool TSavingPolicy::DropFiles(const QStringList& files)
{
    if (files.isEmpty() || !SaveIfModified(true))
        return false;
    return LoadEventFile(files.first());
}

} // namespace evtrak
