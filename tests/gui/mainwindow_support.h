#pragma once
// Drives the real main window in tests: a scripted prompt with the window's file
// dialogs, a program folder of its own, and a port file standing for the port space.

#include "acquisition/ktPorts.h"
#include "app/uSession.h"
#include "eventlog/uLog.h"
#include "testsupport.h"
#include "ui/widgets/frmMain.h"
#include "ui/widgets/uFormsGeometry.h"
#include "ui/widgets/uMessagePrompt.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <memory>

namespace evtrak::test {

// Scripted answers for every question and dialog of the window.
class FakeWindowPrompt : public WindowPrompt
{
public:
    std::deque<Answer> answers; // next answers to questions; Yes when empty
    std::deque<QString> files;  // next results of any file dialog; cancel when empty
    QStringList shown;          // every text and dialog shown, in order
    QStringList errors;         // the texts shown as warnings

    Answer AskYesNoCancel(const QString& text) override { return next(text); }
    Answer AskYesNo(const QString& text) override
    {
        const Answer a = next(text);
        return a == Answer::Cancel ? Answer::No : a;
    }
    void Inform(const QString& text) override { shown << text; }
    void ShowError(const QString& text) override
    {
        shown << text;
        errors << text;
    }
    QString ChooseEventFileToSave(const QString& dir, const QString& proposed) override
    {
        return file(QStringLiteral("[save events] ") + dir + u'|' + proposed);
    }
    QString ChooseEventFileToOpen(const QString& dir) override
    {
        return file(QStringLiteral("[open events] ") + dir);
    }
    QString ChooseConfFileToLoad(const QString& dir) override
    {
        return file(QStringLiteral("[load conf] ") + dir);
    }
    QString ChooseConfFileToSave(const QString& dir, const QString& proposed) override
    {
        return file(QStringLiteral("[save conf] ") + dir + u'|' + proposed);
    }
    QString ChooseExportFile(const QString& title, const QString&, const QString&,
                             const QString& proposedPath) override
    {
        return file(QStringLiteral("[export] ") + title + u'|' + proposedPath);
    }
    QString ChooseJournalToRecover(const QString& dir) override
    {
        return file(QStringLiteral("[recover journal] ") + dir);
    }
    bool saw(const QString& text) const { return shown.contains(text); }

private:
    Answer next(const QString& text)
    {
        shown << text;
        if (answers.empty())
            return Answer::Yes;
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    QString file(const QString& what)
    {
        shown << what;
        if (files.empty())
            return {};
        QString f = files.front();
        files.pop_front();
        return f;
    }
};

// A program folder, a port and a window that lives in them.
struct WindowRig
{
    QTemporaryDir dir; // stands for the program's folder
    QString portFile;  // 64 KiB port space ("" for no usable port)
    std::unique_ptr<PortAccess> ports;
    FakeClock clock;
    FakeWindowPrompt prompt;
    std::unique_ptr<TSession> session; // outlives the window, as in the program
    std::unique_ptr<TfmMain> window;
    QString portMode; // shown after the port's name

    explicit WindowRig(bool withPort = true)
    {
        test::WriteBytes(dir.filePath(QStringLiteral("evtrak.portable")), {}); // files kept in dir
        if (withPort) {
            portFile = dir.filePath(QStringLiteral("port.bin"));
            QFile f(portFile);
            if (f.open(QIODevice::WriteOnly))
                f.write(QByteArray(65536, '\0'));
            // Status lines idle (BUSY is inverted by the hardware).
            setPortByte(0x379, 0x80);
            PortStartOptions o;
            o.portDevice = portFile;
            ports = StartPortDriver(o);
        } else {
            ports = std::make_unique<PortAccess>();
        }
    }
    ~WindowRig()
    {
        if (window)
            window->hide();
        window.reset();
        session.reset();
    }

    QString path(const QString& name) const { return dir.filePath(name); }
    QString logDir() const { return dir.filePath(QStringLiteral("Log")) + u'/'; }
    QString iniFile() const { return dir.filePath(QStringLiteral("evtrak.ini")); }

    void setPortByte(int port, unsigned char value) const
    {
        QFile f(portFile);
        if (!f.open(QIODevice::ReadWrite))
            return;
        f.seek(port);
        f.write(reinterpret_cast<const char*>(&value), 1);
    }

    // Creates the session (settings read, the rig's port) and the window, without
    // starting it.
    TfmMain& create(int pauseMs = 0)
    {
        window.reset();
        session.reset();
        session = std::make_unique<TSession>(SessionSetup{dir.path(), &clock, &prompt});
        session->ReadSettings();
        session->UsePort(*ports);
        MainWindowSetup s;
        s.session = session.get();
        s.prompt = &prompt;
        s.pauseMs = pauseMs;
        s.portMode = portMode;
        window = std::make_unique<TfmMain>(s);
        return *window;
    }

    // Creates the window and runs the program's start-up sequence.
    TfmMain& start(bool show = true)
    {
        if (!window)
            create();
        window->FormCreate();
        window->CreatePrintOptions();
        LoadFormsSizeAndPos(window->paths().PrefsFileName);
        window->EndStartup();
        if (show) {
            window->show();
            QApplication::setActiveWindow(window.get());
            (void)QTest::qWaitForWindowActive(window.get());
        }
        return *window;
    }

    void writeFile(const QString& name, const QByteArray& bytes) const
    {
        QFile f(dir.filePath(name));
        QDir().mkpath(QFileInfo(f).absolutePath());
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }
};

// Rows that look captured (the list is then modified).
inline void AddRows(TEventList& list, int count, int input = 0)
{
    for (int i = 0; i < count; ++i)
        list.AddEvent(EventRecord{QStringLiteral("Evt%1").arg(i), input, 46000.5 + i, 100 * i},
                      false, false, true);
    list.SetModified(true);
}

// Every test runs with its own configuration folders: nothing reaches the user's.
inline void IsolateUserFolders()
{
    static QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
}

} // namespace evtrak::test
