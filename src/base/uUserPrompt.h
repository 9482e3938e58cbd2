#pragma once
// What the core asks of the user. The windowed program answers with message boxes and
// file dialogs; headless runs and tests answer with fixed or scripted answers.

#include <QString>

namespace evtrak {

enum class Answer
{
    Yes,
    No,
    Cancel
};

class UserPrompt
{
public:
    virtual ~UserPrompt() = default;
    // Question box with Yes, No and Cancel.
    virtual Answer AskYesNoCancel(const QString& text) = 0;
    // Question box with Yes and No (Cancel never comes back).
    virtual Answer AskYesNo(const QString& text) = 0;
    // Information box with one OK button.
    virtual void Inform(const QString& text) = 0;
    // A failure the user must know about (warning box with one OK button). Without a
    // box of its own, a failure is shown as information.
    virtual void ShowError(const QString& text) { Inform(text); }
    // Save dialog for an event file ("Historiques (*.txt)"), starting in dir, proposing
    // proposedName, asking before it overwrites. Empty when cancelled.
    virtual QString ChooseEventFileToSave(const QString& dir, const QString& proposedName) = 0;
};

// Answers every question with a fixed answer, shows nothing, cancels every dialog.
// Used by headless runs.
class SilentPrompt : public UserPrompt
{
public:
    explicit SilentPrompt(Answer answer = Answer::Yes) : m_answer(answer) {}
    Answer AskYesNoCancel(const QString&) override { return m_answer; }
    Answer AskYesNo(const QString&) override
    {
        return m_answer == Answer::Cancel ? Answer::No : m_answer;
    }
    void Inform(const QString&) override {}
    QString ChooseEventFileToSave(const QString&, const QString&) override { return {}; }

private:
    Answer m_answer;
};

} // namespace evtrak
