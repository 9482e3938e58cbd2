#pragma once
// The questions, information boxes and file dialogs of the windowed program.

#include "base/uUserPrompt.h"

#include <QString>

class QWidget;

namespace evtrak {

// Everything the main window asks of the user: the core's questions plus the open and
// save dialogs of the event-file and configuration commands. Tests give the window a
// scripted implementation.
class WindowPrompt : public UserPrompt
{
public:
    // Open dialog for an event file ("Historiques (*.txt)") starting in dir; empty when
    // cancelled.
    virtual QString ChooseEventFileToOpen(const QString& dir) = 0;
    // Open dialog for a configuration ("Configuration des entrées (*.icf)"); the chosen
    // file need not exist. Empty when cancelled.
    virtual QString ChooseConfFileToLoad(const QString& dir) = 0;
    // Save dialog for a configuration, proposing proposedName, asking before it
    // overwrites. Empty when cancelled.
    virtual QString ChooseConfFileToSave(const QString& dir, const QString& proposedName) = 0;
    // Save dialog for an export titled title, with filter and default suffix, proposing
    // proposedPath, asking before it overwrites. Empty when cancelled.
    virtual QString ChooseExportFile(const QString& title, const QString& filter,
                                     const QString& suffix, const QString& proposedPath) = 0;
    // Open dialog for a recovery journal kept aside, starting in dir. Empty when cancelled.
    virtual QString ChooseJournalToRecover(const QString& dir) = 0;
    // A failure the user must know about (warning box with one OK button).
    void ShowError(const QString& text) override = 0;
};

// Message boxes and file dialogs, modal on parent. The standard buttons read "Oui",
// "Non", "Annuler" and "OK" whatever translations are installed.
class TMessagePrompt : public WindowPrompt
{
public:
    explicit TMessagePrompt(QWidget* parent) : m_parent(parent) {}

    Answer AskYesNoCancel(const QString& text) override;
    Answer AskYesNo(const QString& text) override;
    void Inform(const QString& text) override;
    void ShowError(const QString& text) override;
    QString ChooseEventFileToSave(const QString& dir, const QString& proposedName) override;
    QString ChooseEventFileToOpen(const QString& dir) override;
    QString ChooseConfFileToLoad(const QString& dir) override;
    QString ChooseConfFileToSave(const QString& dir, const QString& proposedName) override;
    QString ChooseExportFile(const QString& title, const QString& filter, const QString& suffix,
                             const QString& proposedPath) override;
    QString ChooseJournalToRecover(const QString& dir) override;

private:
    QWidget* m_parent;
};

} // namespace evtrak
