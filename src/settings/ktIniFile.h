#pragma once
// INI text files read and edited the way the Windows private-profile functions do:
// section and key names matched without case, the first occurrence wins, one key written
// at a time where it stands, every other line kept byte for byte.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringView>
#include <cstdint>
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
    // on failure the previous file is left as it was. New lines end with CR LF, kept lines keep
    // theirs.
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
    // One line: its bytes and text are ranges of the file as read (no copy per line)
    // until it is edited.
    struct Line
    {
        qsizetype rawPos = 0; // bytes in m_bytes, without the line end
        qsizetype rawLen = 0;
        qsizetype textPos = 0; // characters in m_text
        qsizetype textLen = 0;
        QByteArrayView eol; // "\r\n", "\n", "\r" or none (last line of the file)
        QString edited;     // the text of an edited or added line
        bool isEdited = false;
        Kind kind = Kind::Other;
        qsizetype namePos = 0; // section or key name within the line's text, trimmed
        qsizetype nameLen = 0;
        qsizetype valueStart = 0; // entry: where the value starts in the line's text
    };

    QStringView Text(const Line& l) const;
    QStringView Name(const Line& l) const { return Text(l).sliced(l.namePos, l.nameLen); }
    void Parse(Line& line) const;
    void Reindex();
    // Index of the first header of section, or -1.
    qsizetype FindSection(QStringView section) const;
    // Index of the first entry named key in the section starting at header, or -1.
    qsizetype FindKey(qsizetype header, QStringView key) const;
    Line MakeLine(const QString& text) const;
    QByteArray Encode(QStringView text) const;

    QString m_fileName;
    bool m_loaded = false;
    bool m_unreadable = false; // exists but could not be read: never overwrite it
    bool m_utf8 = false;       // the file was read as UTF-8: edited lines are written so
    QByteArray m_bom;
    QByteArray m_bytes; // the file as read (BOM removed)
    QString m_text;     // the same, decoded
    std::vector<Line> m_lines;
    QHash<QString, qsizetype> m_sections; // case-folded name -> first header line
    QString m_error;
};

} // namespace evtrak
