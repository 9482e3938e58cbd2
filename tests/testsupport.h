#pragma once
// Small fakes shared by the tests.

#include "base/uUserPrompt.h"
#include "eventlog/uDateTexts.h"

#include <QDateTime>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <atomic>
#include <csignal>
#include <deque>
#include <mutex>
#include <sys/resource.h>

#if defined(__SANITIZE_THREAD__)
// Qt's global thread pool (image conversion and scaling while widgets are grabbed) hands
// work between its own threads through futex-based locks ThreadSanitizer cannot see; with
// one pool thread no work passes between two of its threads (tests/tsan.supp names the
// hand-over from our threads to the pool).
[[maybe_unused]] inline const bool kOneQtPoolThread = [] {
    QThreadPool::globalInstance()->setMaxThreadCount(1);
    return true;
}();
#endif

namespace evtrak::test {

// Files cannot grow beyond `bytes` while it lives (a full disk, as seen by write()).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit l = m_old;
        l.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

// The whole content of a file; empty when it cannot be read.
inline QByteArray ReadBytes(const QString& name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Replaces a file's content by bytes; fails the running test when it cannot.
inline void WriteBytes(const QString& name, const QByteArray& bytes)
{
    QFile f(name);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// A clock the test sets; safe to read from another thread.
class FakeClock : public Clock
{
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9)))
        : m_now(start)
    {}
    QDateTime now() const override
    {
        std::lock_guard lock(m_mutex);
        return m_now;
    }
    void set(const QDateTime& t)
    {
        std::lock_guard lock(m_mutex);
        m_now = t;
    }
    void advanceMs(qint64 ms)
    {
        std::lock_guard lock(m_mutex);
        m_now = m_now.addMSecs(ms);
    }

private:
    mutable std::mutex m_mutex;
    QDateTime m_now;
};

// Answers questions from a script and records every text it was shown.
class ScriptedPrompt : public UserPrompt
{
public:
    std::deque<Answer> answers;    // next answers; Yes when empty
    std::deque<QString> saveNames; // next save-dialog results; cancel when empty
    QStringList shown;             // every question and information text, in order

    Answer AskYesNoCancel(const QString& text) override { return next(text); }
    Answer AskYesNo(const QString& text) override
    {
        const Answer a = next(text);
        return a == Answer::Cancel ? Answer::No : a;
    }
    void Inform(const QString& text) override { shown << text; }
    QString ChooseEventFileToSave(const QString& dir, const QString& proposed) override
    {
        shown << QStringLiteral("[save dialog] ") + dir + QLatin1Char('|') + proposed;
        if (saveNames.empty())
            return {};
        QString n = saveNames.front();
        saveNames.pop_front();
        return n;
    }

private:
    Answer next(const QString& text)
    {
        shown << text;
        if (answers.empty())
            return Answer::Yes;
        Answer a = answers.front();
        answers.pop_front();
        return a;
    }
};

} // namespace evtrak::test
