#pragma once
// The saving policy: the current event file, the day's file, the save question, the
// file commands and the day change. Runs on the UI thread only.

#include "base/uUserPrompt.h"
#include "eventlog/uDateTexts.h"
#include "eventlog/uLog.h"
#include "settings/uUserPrefs.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace evtrak {

class TJournal;

class TSavingPolicy : public QObject
{
    Q_OBJECT
public:
    // Installs the list's append hook (per-event saving into the current file) and
    // removes it when destroyed: list must outlive the policy.
    TSavingPolicy(TEventList& list, const TUserPrefs& prefs, UserPrompt& prompt,
                  const Clock& clock = SystemClock(), QObject* parent = nullptr);

    // The recovery journal (not owned; nullptr: none): told before every save and
    // append what goes into which file, and emptied once the list is in its file.
    void setJournal(TJournal* journal);

    // Whether the capture runs (save failures are silent then). Default: never.
    void setCaptureRunningQuery(std::function<bool()> running);
    // Waits until a capture worker that was told to stop has really ended, its events
    // in the list. Run before a command puts another file's rows in the list, so that
    // no late event of the stopped capture lands there. Default: nothing to wait for.
    void setWorkerWait(std::function<void()> wait);

    // Folder of daily files and of the event-file dialogs (ends with '/').
    QString LogDir() const;
    void SetLogDir(const QString& dir);
    QString DailyFile() const;
    QDateTime StartTime() const;
    // StartTime := now, DailyFile := DailyFileName(). Called once at start-up.
    void InitDay();

    // Empty when the list has no file (untitled: "Sans_Nom" in the caption after
    // "Nouveau" or a refused day's file, "Nouveau" before any file).
    QString CurrentEventFile() const;
    // Records the current file and re-titles: "%s - [%s]" of AppMainTitle and the
    // name without folder, "Nouveau" for an empty name. Emits captionChanged.
    void SetCurrentEventFile(const QString& name);
    QString Caption() const;

    // The whole list into name (backup per LogSaveMakeBackup; written to a temporary
    // file then renamed into place). On success: current file := name, not modified.
    // On failure: box (per MiscShowErrorMessages and not while capturing), nothing else.
    bool SaveEventFile(const QString& name);
    // Replaces the list by the file's events; the file becomes current, not modified;
    // lines not understood are kept for the next save and the user is told how many.
    // A file that is refused (not a regular file, too large, unreadable) is said so and
    // changes nothing: it never becomes current, so it is never written over.
    bool LoadEventFile(const QString& name);
    // Appends the file lines of the events just recorded (CR LF each) to the current
    // file, no backup; an untitled list has no file, so nothing is written and false
    // is returned. The list keeps the modified flag of rows that are not on disk (see
    // TEventList::RecordEvents). appendFailingChanged tells when
    // appends start failing and when they work again.
    bool AppendLastEvent(const QStringList& lines);
    bool AppendFailing() const;

    // false when the user answered Cancel (the caller abandons its operation).
    bool SaveIfModified(bool ask);
    // false when cancelled.
    bool NewEventFile(const QString& name);

    QString DailyFileName() const;
    bool DayChanged() const;
    // Start-up: load the day's file if it exists, else begin it. False when the day's
    // file exists but was refused: the list is then untitled.
    bool OpenDailyFile();
    // Capture start with LogSaveAutoOnNewDay: adopt the day's file name when the
    // current file does not exist on disk.
    void AdoptDailyFileAtCaptureStart();
    // The day change while capturing (LogSaveAutoOnNewDay on). Returns true when the
    // switch to the new day's file happened. When the save fails the rows stay, the
    // current file stays, and the switch is tried again later (not at every call).
    bool CheckDayChange();

    // Commands. FileSave/FileSaveAs return false when nothing was saved (failure or
    // dialog cancelled); after a failed save the list stays modified.
    bool FileNew();
    bool FileOpen(const QString& chosenFile); // asks first when modified
    bool FileSave();
    bool FileSaveAs();
    bool DropFiles(const QStringList& files);

Q_SIGNALS:
    void captionChanged(const QString& caption);
    void currentFileChanged(const QString& name);
    // A full save of the whole list succeeded.
    void fileSaved(const QString& name);
    void appendFailingChanged(bool failing);

private:
    void WaitForStoppedWorker();

    struct Impl;
    std::unique_ptr<Impl> d;

public:
    ~TSavingPolicy() override;
};

} // namespace evtrak
