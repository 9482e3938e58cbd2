#include "settings/ktIniFile.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <limits>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace evtrak;

using evtrak::test::ReadBytes;
using evtrak::test::WriteBytes;

namespace {

QByteArray Bytes(const char* s)
{
    return QByteArray(s);
}

} // namespace

class TestIniFile : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString Path(const QString& name) const { return m_dir.filePath(name); }
    // An INI file holding bytes.
    QString FileWith(const QByteArray& bytes, const QString& name = QStringLiteral("t.ini"))
    {
        const QString p = Path(name);
        WriteBytes(p, bytes);
        return p;
    }

private Q_SLOTS:
    void readString_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        const QString S = QStringLiteral("S");
        const QString k = QStringLiteral("k");
        QTest::newRow("plain") << Bytes("[S]\r\nk=v\r\n") << S << k << "v";
        QTest::newRow("names without case")
            << Bytes("[userPREFS]\r\nAPPmainTITLE=x\r\n") << "UserPrefs"
            << "AppMainTitle"
            << "x";
        QTest::newRow("spaces trimmed") << Bytes("[ S ]\n  k  =   v w \t\n") << S << k << "v w";
        QTest::newRow("double quotes") << Bytes("[S]\nk=\"  a b  \"\n") << S << k << "  a b  ";
        QTest::newRow("single quotes") << Bytes("[S]\nk='a'\n") << S << k << "a";
        QTest::newRow("one pair only") << Bytes("[S]\nk=\"\"a\"\"\n") << S << k << "\"a\"";
        QTest::newRow("unbalanced quote") << Bytes("[S]\nk=\"a\n") << S << k << "\"a";
        QTest::newRow("mismatched quotes") << Bytes("[S]\nk=\"a'\n") << S << k << "\"a'";
        QTest::newRow("lone quote") << Bytes("[S]\nk=\"\n") << S << k << "\"";
        QTest::newRow("empty value is not missing") << Bytes("[S]\nk=\n") << S << k << "";
        QTest::newRow("equals in value") << Bytes("[S]\nk=a=b\n") << S << k << "a=b";
        QTest::newRow("missing key") << Bytes("[S]\nj=1\n") << S << k << "DEF";
        QTest::newRow("missing section") << Bytes("[T]\nk=1\n") << S << k << "DEF";
        QTest::newRow("key of another section") << Bytes("[S]\nj=1\n[T]\nk=2\n") << S << k << "DEF";
        QTest::newRow("key before any section") << Bytes("k=1\n[S]\n") << S << k << "DEF";
        QTest::newRow("duplicate key: first wins") << Bytes("[S]\nk=1\nK=2\n") << S << k << "1";
        QTest::newRow("duplicate section: first wins")
            << Bytes("[S]\nk=1\n[s]\nk=2\n") << S << k << "1";
        QTest::newRow("comment is not a key") << Bytes("[S]\n;k=1\n") << S << k << "DEF";
        QTest::newRow("line without equals") << Bytes("[S]\nk\n") << S << k << "DEF";
        QTest::newRow("header without bracket") << Bytes("[S]\n[T\nk=1\n") << S << k << "1";
        QTest::newRow("CR line ends") << Bytes("[S]\rj=w\rk=v") << S << k << "v";
        QTest::newRow("mixed line ends") << Bytes("[T]\r\n\n\r[S]\n\rk=v\r\n") << S << k << "v";
        QTest::newRow("NUL bytes elsewhere")
            << QByteArray("[S]\nj=\0\0x\nk=v\n", 14) << S << k << "v";
        QTest::newRow("windows-1252")
            << Bytes("[S]\nk=Libell\xe9 \x80\n") << S << k << QStringLiteral("Libellé €");
        QTest::newRow("utf-8") << Bytes("[S]\nk=Libell\xc3\xa9 \xe2\x86\x92\n") << S << k
                               << QStringLiteral("Libellé →");
        QTest::newRow("utf-8 with BOM")
            << Bytes("\xEF\xBB\xBF[S]\nk=Dur\xc3\xa9\x65\n") << S << k << QStringLiteral("Durée");

        const QByteArray a2047(2047, 'a');
        QTest::newRow("2047 characters")
            << ("[S]\nk=" + a2047 + "\n") << S << k << QString(2047, u'a');
        QTest::newRow("longer value cut at 2047")
            << ("[S]\nk=" + a2047 + "bcd\n") << S << k << QString(2047, u'a');
        QTest::newRow("quoted 2047")
            << ("[S]\nk=\"" + a2047 + "\"\n") << S << k << QString(2047, u'a');
    }
    void readString()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const TIniFile ini(FileWith(file));
        QCOMPARE(ini.ReadString(section, key, QStringLiteral("DEF")), expected);
    }

    void readInteger_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // the default is 77
        QTest::newRow("decimal") << "5" << 5;
        QTest::newRow("leading zeros") << "0012" << 12;
        QTest::newRow("negative") << "-5" << -5;
        QTest::newRow("plus") << "+5" << 5;
        QTest::newRow("0x") << "0x5" << 5;
        QTest::newRow("0X") << "0X1f" << 31;
        QTest::newRow("dollar") << "$5" << 5;
        QTest::newRow("dollar lower") << "$ff" << 255;
        QTest::newRow("system colour hex") << "0x80000005" << -2147483643;
        QTest::newRow("system colour decimal") << "-2147483643" << -2147483643;
        QTest::newRow("all ones") << "$FFFFFFFF" << -1;
        QTest::newRow("max") << "2147483647" << 2147483647;
        QTest::newRow("min") << "-2147483648" << std::numeric_limits<int>::min();
        QTest::newRow("decimal overflow") << "2147483648" << 77;
        QTest::newRow("hex overflow") << "0x100000000" << 77;
        QTest::newRow("huge") << "99999999999999999999999" << 77;
        QTest::newRow("word") << "yes" << 77;
        QTest::newRow("empty") << "" << 77;
        QTest::newRow("bare 0x") << "0x" << 77;
        QTest::newRow("bare dollar") << "$" << 77;
        QTest::newRow("bare sign") << "-" << 77;
        QTest::newRow("trailing garbage") << "12abc" << 77;
        QTest::newRow("bad hex digit") << "0x5g" << 77;
        QTest::newRow("fraction") << "1.5" << 77;
        QTest::newRow("inner space") << "1 2" << 77;
        QTest::newRow("quoted") << "\"42\"" << 42;
        QTest::newRow("surrounding spaces") << "  7  " << 7;
    }
    void readInteger()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        const TIniFile ini(FileWith("[S]\r\nk=" + text.toLatin1() + "\r\n"));
        QCOMPARE(ini.ReadInteger(QStringLiteral("S"), QStringLiteral("k"), 77), expected);
        QCOMPARE(ini.ReadInteger(QStringLiteral("S"), QStringLiteral("missing"), 77), 77);
    }

    void readBool()
    {
        const TIniFile ini(FileWith("[S]\nzero=0\ntwo=2\nneg=-1\nyes=yes\nhex=0x0\n"));
        const QString S = QStringLiteral("S");
        QCOMPARE(ini.ReadBool(S, QStringLiteral("zero"), true), false);
        QCOMPARE(ini.ReadBool(S, QStringLiteral("two"), false), true);
        QCOMPARE(ini.ReadBool(S, QStringLiteral("neg"), false), true);
        QCOMPARE(ini.ReadBool(S, QStringLiteral("yes"), false), false);
        QCOMPARE(ini.ReadBool(S, QStringLiteral("yes"), true), true);
        QCOMPARE(ini.ReadBool(S, QStringLiteral("hex"), true), false);
        QCOMPARE(ini.ReadBool(S, QStringLiteral("none"), true), true);
    }

    // The exact bytes after one write: the key's placement and every other line intact.
    void writeKeepsOtherLines_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("replaced where it stands")
            << Bytes("; note\r\n[A]\r\nk = old\r\nj=1\n[B]\rz=\x80\xff\x01\r\n") << "a"
            << "K"
            << "new" << Bytes("; note\r\n[A]\r\nk = new\r\nj=1\n[B]\rz=\x80\xff\x01\r\n");
        QTest::newRow("only the first duplicate replaced") << Bytes("[A]\r\nk=1\r\nk=2\r\n") << "A"
                                                           << "k"
                                                           << "3" << Bytes("[A]\r\nk=3\r\nk=2\r\n");
        QTest::newRow("missing key ends its section, before blank lines")
            << Bytes("[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n") << "A"
            << "c"
            << "3" << Bytes("[A]\r\na=1\r\nc=3\r\n\r\n[B]\r\nb=2\r\n");
        QTest::newRow("missing key in empty section") << Bytes("[A]\n[B]\n") << "A"
                                                      << "c"
                                                      << "3" << Bytes("[A]\nc=3\r\n[B]\n");
        QTest::newRow("missing key after last line without line end")
            << Bytes("[A]\na=1") << "A"
            << "c"
            << "3" << Bytes("[A]\na=1\r\nc=3\r\n");
        QTest::newRow("missing section at the end") << Bytes("[A]\na=1") << "B"
                                                    << "b"
                                                    << "2" << Bytes("[A]\na=1\r\n[B]\r\nb=2\r\n");
        QTest::newRow("empty file") << QByteArray() << "S"
                                    << "k"
                                    << "v" << Bytes("[S]\r\nk=v\r\n");
        QTest::newRow("first of duplicate sections") << Bytes("[A]\r\n[A]\r\n") << "A"
                                                     << "k"
                                                     << "v" << Bytes("[A]\r\nk=v\r\n[A]\r\n");
        QTest::newRow("windows-1252 on disk")
            << Bytes("[S]\r\nz=\xe9\r\n") << "S"
            << "k" << QStringLiteral("Durée €") << Bytes("[S]\r\nz=\xe9\r\nk=Dur\xe9\x65 \x80\r\n");
        QTest::newRow("a UTF-8 file stays UTF-8")
            << Bytes("[S]\nz=\xe2\x86\x92\n") << "S"
            << "k" << QStringLiteral("é") << Bytes("[S]\nz=\xe2\x86\x92\nk=\xc3\xa9\r\n");
        QTest::newRow("UTF-8 key replaced in place")
            << Bytes("[S]\nk\xc3\xa9 = old\n") << "S" << QStringLiteral("ké") << "new"
            << Bytes("[S]\nk\xc3\xa9 = new\n");
        QTest::newRow("a BOM inside is part of a name")
            << Bytes("[S]\n\xEF\xBB\xBFk=1\n") << "S"
            << "k"
            << "2" << Bytes("[S]\n\xEF\xBB\xBFk=1\nk=2\r\n");
        QTest::newRow("BOM kept") << Bytes("\xEF\xBB\xBF[S]\n") << "S"
                                  << "k" << QStringLiteral("é")
                                  << Bytes("\xEF\xBB\xBF[S]\nk=\xc3\xa9\r\n");
        QTest::newRow("line break cannot inject a key")
            << Bytes("[S]\r\n") << "S"
            << "k"
            << "a\r\n[X]\nb" << Bytes("[S]\r\nk=a  [X] b\r\n");
    }
    void writeKeepsOtherLines()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        TIniFile ini(FileWith(before));
        ini.WriteString(section, key, value);
        QCOMPARE(ini.ToBytes(), after);
        QVERIFY(ini.Save());
        QCOMPARE(ReadBytes(ini.FileName()), after);
    }

    // Whatever is written reads back the same from the saved file.
    void valuesRoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("plain") << "Porte nord"
                               << "Porte nord";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("surrounding spaces") << "  Porte  "
                                            << "  Porte  ";
        QTest::newRow("quoted") << "\"Porte\""
                                << "\"Porte\"";
        QTest::newRow("apostrophes") << "'a'"
                                     << "'a'";
        QTest::newRow("inner quotes") << "l'entrée \"B\" 2"
                                      << "l'entrée \"B\" 2";
        QTest::newRow("lone quote") << "\""
                                    << "\"";
        QTest::newRow("equals and semicolon") << "a=b;c"
                                              << "a=b;c";
        QTest::newRow("brackets") << "[S]"
                                  << "[S]";
        QTest::newRow("accents") << QStringLiteral("Libellé_3 œ €")
                                 << QStringLiteral("Libellé_3 œ €");
        QTest::newRow("outside windows-1252") << QStringLiteral("a→b") << "a?b";
        QTest::newRow("line breaks") << "a\nb\rc"
                                     << "a b c";
    }
    void valuesRoundTrip()
    {
        QFETCH(QString, value);
        QFETCH(QString, readBack);
        const QString p = Path(QStringLiteral("roundtrip.ini"));
        QFile::remove(p);
        {
            TIniFile ini(p);
            QVERIFY(!ini.Loaded());
            ini.WriteString(QStringLiteral("S"), QStringLiteral("k"), value);
            ini.WriteString(QStringLiteral("S"), QStringLiteral("after"), QStringLiteral("x"));
            QVERIFY(ini.Save());
        }
        const TIniFile ini(p);
        QVERIFY(ini.Loaded());
        QCOMPARE(ini.ReadString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("D")),
                 readBack);
        QCOMPARE(ini.ReadString(QStringLiteral("S"), QStringLiteral("after"), QString()), "x");
    }

    void integersWrittenSignedDecimal()
    {
        TIniFile ini(Path(QStringLiteral("ints.ini")));
        ini.WriteInteger(QStringLiteral("S"), QStringLiteral("c"),
                         static_cast<std::int32_t>(0x80000005u));
        ini.WriteBool(QStringLiteral("S"), QStringLiteral("t"), true);
        ini.WriteBool(QStringLiteral("S"), QStringLiteral("f"), false);
        QCOMPARE(ini.ToBytes(), Bytes("[S]\r\nc=-2147483643\r\nt=1\r\nf=0\r\n"));
    }

    // Random bytes, one huge line, many short lines: read and edited, never a crash or
    // a hang, and the original bytes survive a write to another section.
    void oddFilesSurvive_data()
    {
        QTest::addColumn<QByteArray>("file");
        QByteArray garbage(1 << 20, '\0');
        QRandomGenerator rng(20240607);
        for (char& c : garbage)
            c = static_cast<char>(rng.bounded(256));
        QTest::newRow("binary garbage") << garbage;
        QTest::newRow("one 8 MB line") << QByteArray(8 << 20, '[');
        QTest::newRow("8 MB value") << ("[S]\nk=" + QByteArray(8 << 20, 'x'));
        QByteArray many;
        for (int i = 0; i < 30000; ++i)
            many += "[S" + QByteArray::number(i % 50) + "]\r=\n\r\n";
        QTest::newRow("many lines") << many;
        QTest::newRow("NULs only") << QByteArray(4096, '\0');
    }
    void oddFilesSurvive()
    {
        QFETCH(QByteArray, file);
        TIniFile ini(FileWith(file, QStringLiteral("odd.ini")));
        const QString v = ini.ReadString(QStringLiteral("S"), QStringLiteral("k"), QString());
        QVERIFY(v.size() <= kIniMaxValueLength);
        ini.WriteString(QStringLiteral("New section"), QStringLiteral("k"), QStringLiteral("v"));
        QVERIFY(ini.Save());
        const QByteArray saved = ReadBytes(ini.FileName());
        QVERIFY(saved.startsWith(file));
        QVERIFY(saved.endsWith("[New section]\r\nk=v\r\n"));
        QCOMPARE(TIniFile(ini.FileName())
                     .ReadString(QStringLiteral("new SECTION"), QStringLiteral("K"), QString()),
                 "v");
    }

    // Sections are found (without case, the first of duplicates) after keys and sections
    // were added above and below them, in memory and after a reload.
    void sectionsFoundAfterEdits()
    {
        QByteArray before("\xc3\x89t\xc3\xa9=0\r\n");
        for (int i = 0; i < 300; ++i)
            before += "[Sec" + QByteArray::number(i) + "]\r\nk=" + QByteArray::number(i) + "\r\n";
        before += "[\xc3\x89T\xc3\x89]\r\nk=first\r\n[sec7]\r\nk=dup\r\n";
        TIniFile ini(FileWith(before, QStringLiteral("many.ini")));
        for (int i = 0; i < 300; i += 3)
            ini.WriteString(QStringLiteral("SEC%1").arg(i), QStringLiteral("added"),
                            QString::number(i));
        ini.WriteString(QStringLiteral("New"), QStringLiteral("k"), QStringLiteral("n"));
        ini.WriteString(QStringLiteral("Sec0"), QStringLiteral("later"), QStringLiteral("l"));
        QVERIFY(ini.Save());
        const TIniFile again(ini.FileName());
        for (const TIniFile* f : std::initializer_list<const TIniFile*>{&ini, &again}) {
            for (int i = 0; i < 300; ++i)
                QCOMPARE(f->ReadInteger(QStringLiteral("sec%1").arg(i), QStringLiteral("K"), -1),
                         i);
            QCOMPARE(f->ReadInteger(QStringLiteral("Sec297"), QStringLiteral("added"), -1), 297);
            QCOMPARE(f->ReadString(QStringLiteral("été"), QStringLiteral("k"), QString()),
                     QStringLiteral("first"));
            QCOMPARE(f->ReadString(QStringLiteral("new"), QStringLiteral("k"), QString()), "n");
            QCOMPARE(f->ReadString(QStringLiteral("Sec0"), QStringLiteral("later"), QString()),
                     "l");
        }
    }

    void missingFileCreated()
    {
        const QString p = Path(QStringLiteral("sub-missing.ini"));
        TIniFile ini(p);
        QVERIFY(!ini.Loaded());
        QCOMPARE(ini.ReadString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("d")),
                 "d");
        ini.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v"));
        QVERIFY(ini.Save());
        QCOMPARE(ReadBytes(p), Bytes("[S]\r\nk=v\r\n"));
    }

    void saveFailureReported()
    {
        // A missing folder is not created.
        TIniFile noFolder(Path(QStringLiteral("no/such/folder/a.ini")));
        noFolder.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v"));
        QVERIFY(!noFolder.Save());
        QVERIFY(!noFolder.ErrorString().isEmpty());
        QVERIFY(!QFile::exists(noFolder.FileName()));

        // A name that exists but cannot be read as a file is never replaced.
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("adir.ini")));
        TIniFile dir(Path(QStringLiteral("adir.ini")));
        QVERIFY(dir.ReadFailed());
        dir.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v"));
        QVERIFY(!dir.Save());
        QVERIFY(QFileInfo(dir.FileName()).isDir());
    }

    // A write that fails half way (here: the file-size limit, which binds root too)
    // leaves the previous file whole.
    void failedSaveKeepsPreviousFile()
    {
        const QByteArray old("[S]\r\nk=old\r\n[Other]\r\nx=1\r\n");
        const QString p = FileWith(old, QStringLiteral("keep.ini"));
        TIniFile ini(p);
        ini.WriteString(QStringLiteral("S"), QStringLiteral("k"), QString(1000, u'n'));
        for (int i = 0; i < 200; ++i)
            ini.WriteString(QStringLiteral("S"), QStringLiteral("k%1").arg(i), QString(1000, u'n'));

        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit small = saved;
        small.rlim_cur = 16 * 1024;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        const bool ok = ini.Save();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!ok);
        QCOMPARE(ReadBytes(p), old);
        QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("keep.ini*")}, QDir::Files),
                 QStringList{QStringLiteral("keep.ini")});
    }

    // A file holding a password is for its owner only; other new files follow the umask;
    // a rewrite keeps the file's mode and never widens it.
    void modesFollowUmaskAndSecrets_data()
    {
        QTest::addColumn<int>("mask");
        QTest::newRow("umask 022") << 022;
        QTest::newRow("umask 077") << 077;
    }
    void modesFollowUmaskAndSecrets()
    {
        QFETCH(int, mask);
        const auto modeOf = [](const QString& p) {
            struct stat st
            {
            };
            return ::stat(QFile::encodeName(p).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
        };
        const auto save = [](const QString& p, const char* key, const char* value) {
            TIniFile ini(p);
            ini.WriteString(QStringLiteral("Mqtt"), QLatin1String(key), QLatin1String(value));
            return ini.Save();
        };
        const mode_t saved = ::umask(mode_t(mask));
        const QString plain = Path(QStringLiteral("plain%1.ini").arg(mask));
        const QString secret = Path(QStringLiteral("secret%1.ini").arg(mask));
        const bool ok = save(plain, "Host", "broker") && save(secret, "Password", "s3cret");
        const int plainMode = modeOf(plain);
        const int secretMode = modeOf(secret);
        // A rewrite keeps a mode the umask would not give; a password narrows it.
        QFile::setPermissions(plain, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        const bool kept = save(plain, "Host", "other");
        const int keptMode = modeOf(plain);
        const bool narrowed = save(plain, "password", "s3cret");
        const int narrowedMode = modeOf(plain);
        // Taking the password out does not widen it again.
        const bool emptied = save(plain, "Password", "");
        ::umask(saved);
        QVERIFY(ok && kept && narrowed && emptied);
        QCOMPARE(plainMode, 0666 & ~mask);
        QCOMPARE(secretMode, 0600);
        QCOMPARE(keptMode, 0640);
        QCOMPARE(narrowedMode, 0600);
        QCOMPARE(modeOf(plain), 0600);
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
