#include "ui/widgets/uMessagePrompt.h"

#include "base/uResStr.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace evtrak {

namespace {

// The French captions of the standard buttons, set on the box itself so that they do
// not depend on Qt's translation files being installed.
void FrenchButtons(QMessageBox& box)
{
    const struct
    {
        QMessageBox::StandardButton button;
        const char* text;
    } captions[] = {{QMessageBox::Yes, "&Oui"},
                    {QMessageBox::No, "&Non"},
                    {QMessageBox::Cancel, "&Annuler"},
                    {QMessageBox::Ok, "OK"}};
    for (const auto& c : captions)
        if (QAbstractButton* b = box.button(c.button))
            b->setText(QString::fromUtf8(c.text));
}

QMessageBox::StandardButton ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                    const QString& text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, title, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    FrenchButtons(box);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

Answer ToAnswer(QMessageBox::StandardButton b)
{
    switch (b) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel; // Escape or the title bar's close button
    }
}

// One file dialog shape for the four commands that show one.
QString RunFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& dir,
                      const QString& filter, const QString& suffix, const QString& proposedName,
                      bool mustExist, const QString& title = {})
{
    QFileDialog dlg(parent);
    if (!title.isEmpty())
        dlg.setWindowTitle(title);
    dlg.setAcceptMode(mode);
    dlg.setFileMode(mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dlg.setDirectory(dir);
    dlg.setNameFilters({filter, QStringLiteral("Tous les fichiers (*)")});
    dlg.setDefaultSuffix(suffix);
    if (!proposedName.isEmpty())
        dlg.selectFile(proposedName);
    // The save dialogs ask before replacing a file (Qt's default); the open dialog of
    // configurations accepts a name that does not exist yet.
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return {};
    return QDir::cleanPath(dlg.selectedFiles().constFirst());
}

} // namespace

Answer TMessagePrompt::AskYesNoCancel(const QString& text)
{
    return ToAnswer(ShowBox(m_parent, QMessageBox::Question, QStringLiteral("Confirmation"), text,
                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                            QMessageBox::Yes));
}

Answer TMessagePrompt::AskYesNo(const QString& text)
{
    const Answer a =
        ToAnswer(ShowBox(m_parent, QMessageBox::Question, QStringLiteral("Confirmation"), text,
                         QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes));
    return a == Answer::Cancel ? Answer::No : a;
}

void TMessagePrompt::Inform(const QString& text)
{
    ShowBox(m_parent, QMessageBox::Information, QStringLiteral("Information"), text,
            QMessageBox::Ok, QMessageBox::Ok);
}

void TMessagePrompt::ShowError(const QString& text)
{
    ShowBox(m_parent, QMessageBox::Warning, QStringLiteral("Erreur"), text, QMessageBox::Ok,
            QMessageBox::Ok);
}

QString TMessagePrompt::ChooseEventFileToSave(const QString& dir, const QString& proposedName)
{
    return RunFileDialog(m_parent, QFileDialog::AcceptSave, dir, ResStr::EventFilesFilter(),
                         QStringLiteral("txt"), proposedName, false);
}

QString TMessagePrompt::ChooseEventFileToOpen(const QString& dir)
{
    return RunFileDialog(m_parent, QFileDialog::AcceptOpen, dir, ResStr::EventFilesFilter(),
                         QStringLiteral("txt"), {}, true);
}

QString TMessagePrompt::ChooseConfFileToLoad(const QString& dir)
{
    return RunFileDialog(m_parent, QFileDialog::AcceptOpen, dir, ResStr::ConfFilesFilter(),
                         QStringLiteral("icf"), {}, false);
}

QString TMessagePrompt::ChooseConfFileToSave(const QString& dir, const QString& proposedName)
{
    return RunFileDialog(m_parent, QFileDialog::AcceptSave, dir, ResStr::ConfFilesFilter(),
                         QStringLiteral("icf"), proposedName, false);
}

QString TMessagePrompt::ChooseExportFile(const QString& title, const QString& filter,
                                         const QString& suffix, const QString& proposedPath)
{
    const QFileInfo proposed(proposedPath);
    return RunFileDialog(m_parent, QFileDialog::AcceptSave, proposed.absolutePath(), filter, suffix,
                         proposed.fileName(), false, title);
}

QString TMessagePrompt::ChooseJournalToRecover(const QString& dir)
{
    return RunFileDialog(m_parent, QFileDialog::AcceptOpen, dir,
                         QStringLiteral("Journaux de reprise (*.bin)"), QStringLiteral("bin"), {},
                         true, ResStr::RecoverJournalTitle());
}

} // namespace evtrak
