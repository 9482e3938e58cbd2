#include "eventlog/uSavingPolicy.h"

#include "base/uResStr.h"
#include "eventlog/uEventFile.h"
#include "eventlog/uJournal.h"

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
    std::function<void()> WaitForWorker;
    TJournal* Journal = nullptr;
    QString LogDir;
    QString DailyFile;
    QDateTime StartTime;
    QString CurrentFile;   // empty: untitled, no file
    bool Untitled = false; // the list was made untitled (not just not named yet)
    QString Caption;
    QDateTime NextDayChangeTry;     // invalid: no failed day change pending
    bool LastSaveCancelled = false; // the last FileSave/FileSaveAs ended in a cancelled dialog
    bool AppendFailing = false;     // the last per-event append failed

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

void TSavingPolicy::setJournal(TJournal* journal)
{
    d->Journal = journal;
}

void TSavingPolicy::setCaptureRunningQuery(std::function<bool()> running)
{
    d->CaptureRunning = std::move(running);
}

void TSavingPolicy::setWorkerWait(std::function<void()> wait)
{
    d->WaitForWorker = std::move(wait);
}

void TSavingPolicy::WaitForStoppedWorker()
{
    if (d->WaitForWorker)
        d->WaitForWorker();
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
    if (!name.isEmpty())
        d->Untitled = false;
    const QString shown = !name.isEmpty() ? QFileInfo(name).fileName()
                          : d->Untitled   ? ResStr::UntitledName()
                                          : ResStr::NewCaptionName();
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
    WaitForStoppedWorker(); // the last events of a stopped capture go in too
    TJournal* journal = d->Journal;
    // A save can take a while (a slow disk, a large list): what the journal holds reaches
    // the disk first, not a second after the save.
    if (journal)
        journal->Sync();
    const auto noteSave = [journal, &name](qint64 size, std::uint32_t crc) {
        if (journal)
            journal->NoteSave(name, size, crc);
        return true;
    };
    QString reason;
    if (!name.isEmpty() &&
        evtrak::SaveEventFile(d->List, name, d->Prefs.LogSaveMakeBackup, noteSave, &reason)) {
        if (journal)
            journal->Settle();
        SetCurrentEventFile(name);
        d->List.SetModified(false);
        Q_EMIT fileSaved(name);
        return true;
    }
    qCWarning(lcSaving) << "save failed:" << name;
    if (d->Prefs.MiscShowErrorMessages && !d->Capturing())
        d->Prompt.ShowError(ResStr::SaveFailed(QFileInfo(name).fileName(), reason));
    return false;
}

bool TSavingPolicy::LoadEventFile(const QString& name)
{
    WaitForStoppedWorker();
    if (d->Journal)
        d->Journal->Sync(); // a large file takes a while to read
    EventFileContent content = ReadEventFile(name, d->Clk.now().date().year());
    const QString shortName = QFileInfo(name).fileName();
    if (content.State == FileReadResult::Refused) {
        // Never made current, so never written over: the list and its file stay.
        qCWarning(lcSaving) << "refused:" << name << content.Reason;
        if (!d->Capturing())
            d->Prompt.Inform(ResStr::LoadRefused(shortName, content.Reason));
        return false;
    }
    d->List.ClearEvents();
    // The rows the list held were saved or dropped by the user.
    if (d->Journal)
        d->Journal->Settle();
    d->List.AppendEvents(content.Records);
    const std::size_t kept = content.Kept.size();
    d->List.SetKeptLines(std::move(content.Kept));
    // No box while capturing: the day change loads inside the capture's delivery, and
    // nobody may have to answer before the next events reach the list.
    if (!content.Ok() && d->Prefs.MiscShowErrorMessages && !d->Capturing())
        d->Prompt.Inform(ResStr::LoadFailed(shortName));
    if (!content.Ok())
        qCWarning(lcSaving) << "load failed:" << name;
    SetCurrentEventFile(name);
    d->List.SetModified(false);
    if (kept > 0 && !d->Capturing())
        d->Prompt.Inform(ResStr::LinesNotUnderstood(int(kept), shortName));
    return content.Ok();
}

bool TSavingPolicy::AppendLastEvent(const QStringList& lines)
{
    TJournal* journal = d->Journal;
    const QString& file = d->CurrentFile;
    const auto noteAppend = [journal, &file, &lines](qint64 offset, qint64 size,
                                                     std::uint32_t crc) {
        if (journal)
            journal->NoteAppend(file, offset, size, crc, std::size_t(lines.size()));
    };
    const bool ok = !file.isEmpty() && AppendEventLines(file, lines, noteAppend);
    if (journal)
        journal->AppendDone(file, ok);
    if (ok != !d->AppendFailing) {
        d->AppendFailing = !ok;
        Q_EMIT appendFailingChanged(d->AppendFailing);
    }
    return ok;
}

bool TSavingPolicy::AppendFailing() const
{
    return d->AppendFailing;
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
    WaitForStoppedWorker();
    if (!SaveIfModified(true))
        return false;
    d->List.ClearEvents();
    d->List.SetKeptLines({});
    if (d->Journal)
        d->Journal->Settle();
    d->Untitled = name.isEmpty();
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

bool TSavingPolicy::OpenDailyFile()
{
    if (d->DailyFile.isEmpty())
        InitDay();
    if (!QFileInfo::exists(d->DailyFile) && !QFileInfo(d->DailyFile).isSymLink()) {
        NewEventFile(d->DailyFile);
        return true;
    }
    if (LoadEventFile(d->DailyFile))
        return true;
    // A day's file that cannot be read is left alone: the list starts untitled.
    if (d->CurrentFile.isEmpty()) {
        d->Untitled = true;
        SetCurrentEventFile(QString());
    }
    return false;
}

void TSavingPolicy::AdoptDailyFileAtCaptureStart()
{
    if (!d->Prefs.LogSaveAutoOnNewDay || QFileInfo::exists(d->CurrentFile))
        return;
    // An existing day's file was not loaded into this list (or could not be): saving
    // the list under its name would replace its rows.
    const QString daily = DailyFileName();
    if (QFileInfo::exists(daily) || QFileInfo(daily).isSymLink())
        return;
    d->DailyFile = daily;
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
    const QString daily = DailyFileName();
    if (QFileInfo::exists(daily) || QFileInfo(daily).isSymLink()) {
        // A new day's file that cannot be read is left alone: the list (just saved)
        // goes on in the current file.
        if (LoadEventFile(daily))
            d->DailyFile = daily;
    } else {
        // The list was just saved: no question to ask.
        d->DailyFile = daily;
        d->List.ClearEvents();
        d->List.SetKeptLines({});
        SetCurrentEventFile(d->DailyFile);
        d->List.SetModified(false);
    }
    return true;
}

bool TSavingPolicy::FileNew()
{
    return NewEventFile(QString());
}

bool TSavingPolicy::FileOpen(const QString& chosenFile)
{
    WaitForStoppedWorker();
    if (chosenFile.isEmpty() || !SaveIfModified(true))
        return false;
    return LoadEventFile(chosenFile);
}

bool TSavingPolicy::FileSave()
{
    d->LastSaveCancelled = false;
    if (!d->CurrentFile.isEmpty())
        return SaveEventFile(d->CurrentFile);
    return FileSaveAs();
}

bool TSavingPolicy::FileSaveAs()
{
    d->LastSaveCancelled = false;
    // The dialog proposes the current file's name, so that "Sauver sous..." of an opened
    // file starts from it rather than from the untitled name.
    const QString proposed =
        d->CurrentFile.isEmpty() ? ResStr::UntitledName() : QFileInfo(d->CurrentFile).fileName();
    const QString name = d->Prompt.ChooseEventFileToSave(d->LogDir, proposed);
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
    WaitForStoppedWorker();
    if (files.isEmpty() || !SaveIfModified(true))
        return false;
    return LoadEventFile(files.first());
}

} // namespace evtrak
