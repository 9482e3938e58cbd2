#pragma once
// INI text files read and edited the way the Windows private-profile functions do:
// section and key names matched without case, the first occurrence wins, one key written
// at a time where it stands, every other line kept byte for byte.

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <functional>
#include <vector>

namespace evtrak {

// Longest value a read returns, in characters (the profile functions' 2048-byte buffer).
inline constexpr qsizetype kIniMaxValueLength = 2047;

// Reads an INI integer: decimal, "0x"/"0X" hexadecimal (more than two characters), or
// "$" hexadecimal, with an optional sign. Hexadecimal up to 8 digits wraps to 32-bit
// signed (0x80000005 is -2147483643); decimal must fit 32-bit signed. Returns false for
// anything else.
bool ParseIniInteger(QStringView text, std::int32_t& value);

class TIniFile
{
public:
    // Loads fileName; a missing file is an empty file. Any bytes, any line ends (CR, LF,
    // CR LF), NUL bytes and huge lines are accepted; only a regular file of at most
    // kMaxSettingsFileBytes is read (ReadFailed otherwise, with the reason in
    // ErrorString).
    explicit TIniFile(const QString& fileName);

    const QString& FileName() const { return m_fileName; }
    // True when the file existed and was read.
    bool Loaded() const { return m_loaded; }
    // True when the file exists but could not be read; Save() then refuses to replace it.
    bool ReadFailed() const { return m_unreadable; }

    // The value of key in section, surrounding spaces and one pair of matching quotes
    // removed, at most kIniMaxValueLength characters; def when the key is missing.
    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    std::int32_t ReadInteger(const QString& section, const QString& key, std::int32_t def) const;
    bool ReadBool(const QString& section, const QString& key, bool def) const;
    bool SectionExists(const QString& section) const;

    // Edits the lines in memory: an existing key is replaced where it stands, a missing
    // key is added after the last entry of its section, a missing section at the end.
    // Values read back as written: line breaks become spaces, and a value that would
    // lose its surrounding spaces or quotes on reading is stored quoted.
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteInteger(const QString& section, const QString& key, std::int32_t value);
    void WriteBool(const QString& section, const QString& key, bool value);

    // Writes the file through WriteFileSafely (synced temporary file renamed over it);
    // on failure the previous file is left as it was. A file that holds a password (a
    // "Password" key with a value) is written for its owner only (0600). New lines end with CR LF,
    // kept lines keep theirs.
    bool Save();
    QString ErrorString() const { return m_error; }

    // The bytes Save() would write.
    QByteArray ToBytes() const;

private:
    enum class Kind : quint8
    {
        Other,
        Section,
        Entry
    };
    enum Eol : quint8
    {
        EolNone, // last line of the file
        EolCrLf,
        EolLf,
        EolCr
    };
    // One line in 8 bytes: settings files of millions of lines must load in a few times
    // their size. A kept line is a range of the file as read; an edited or added line's
    // text is in m_edited. Names and values are found again in the line when asked for.
    struct Line
    {
        quint32 pos = 0;      // byte offset in m_bytes, or index in m_edited when edited
        quint32 len : 27 = 0; // bytes without the line end (a file is at most 64 MiB)
        quint32 eol : 2 = EolNone;
        quint32 kind : 2 = 0;
        quint32 edited : 1 = 0;
    };
    // Where the name and the value lie in a line's bytes or characters.
    struct Parts
    {
        qsizetype namePos = 0;
        qsizetype nameLen = 0;
        qsizetype valueStart = 0;
    };
    // A section header in the index: the hash of its case-folded name and its line.
    struct SectionRef
    {
        quint32 hash;
        quint32 line;
    };

    Kind KindOf(const Line& l) const { return static_cast<Kind>(l.kind); }
    QByteArrayView Bytes(const Line& l) const;
    Parts PartsOf(const Line& l) const;
    QString Name(const Line& l) const;
    bool NameIsPassword(const Line& l) const;
    QString Value(const Line& l) const; // trimmed, unquoted, cut to the longest read
    QString Decode(QByteArrayView bytes) const;
    quint32 HashOf(const Line& l) const;
    void Reindex();
    void InsertLine(std::size_t at, const QString& text);
    void SetText(Line& l, const QString& text);
    // Index of the first header of section, or -1.
    qsizetype FindSection(QStringView section) const;
    // Index of the first entry named key in the section starting at header, or -1.
    qsizetype FindKey(qsizetype header, QStringView key) const;
    QByteArray Encode(QStringView text) const;
    bool HoldsPassword() const;
    // Hands the file's bytes to sink in pieces of about a megabyte.
    bool WriteBytes(const std::function<bool(QByteArrayView)>& sink) const;

    QString m_fileName;
    bool m_loaded = false;
    bool m_unreadable = false; // exists but could not be read: never overwrite it
    bool m_utf8 = false;       // the file was read as UTF-8: edited lines are written so
    QByteArray m_bom;
    QByteArray m_bytes; // the file as read (BOM removed)
    std::vector<Line> m_lines;
    std::vector<QString> m_edited;
    std::vector<SectionRef> m_sections; // sorted by hash, then line
    QString m_error;
};

} // namespace evtrak
