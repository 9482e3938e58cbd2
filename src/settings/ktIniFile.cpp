#include "settings/ktIniFile.h"

#include "ui/ktMisc.h"
#include "ui/ktSafeFile.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcIniFile, "evtrak.settings.ini")

namespace evtrak {

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");
constexpr QByteArrayView kCrLf("\r\n");
constexpr QByteArrayView kCr("\r");
constexpr QByteArrayView kLf("\n");

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f';
}

QStringView Trimmed(QStringView s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.sliced(b, e - b);
}

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Splits at CR LF, LF or CR; calls f(begin, length, eolLength) for every line. A last
// line without a line end is a line too; a file ending with a line end has no empty
// last line.
template <typename Seq, typename F> void SplitLines(const Seq& s, F f)
{
    const qsizetype n = s.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (s[i] == '\r') {
            const qsizetype eol = (i + 1 < n && s[i + 1] == '\n') ? 2 : 1;
            f(start, i - start, eol);
            i += eol - 1;
            start = i + 1;
        } else if (s[i] == '\n') {
            f(start, i - start, 1);
            start = i + 1;
        }
    }
    if (start < n)
        f(start, n - start, 0);
}

// What a value must look like on disk so that reading gives it back.
QString StoredValue(const QString& value)
{
    QString v = value;
    for (QChar& c : v)
        if (c == u'\r' || c == u'\n' || c == u'\0')
            c = u' '; // a line break would split the entry and make a key of its tail
    if (v.isEmpty())
        return v;
    const QChar first = v.front();
    const QChar last = v.back();
    const bool spaced = IsBlank(first) || IsBlank(last);
    const bool quoted = v.size() >= 2 && (first == u'"' || first == u'\'') && last == first;
    if (spaced || quoted)
        return u'"' + v + u'"';
    return v;
}

} // namespace

bool ParseIniInteger(QStringView text, std::int32_t& value)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == u'$') {
        base = 16;
        ++i;
    } else if (text.size() - i > 2 && text[i] == u'0' &&
               (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return false;
    std::uint64_t acc = 0;
    for (; i < text.size(); ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0 || d >= base)
            return false;
        acc = acc * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        if (acc > 0xFFFFFFFFull)
            return false;
    }
    if (base == 16) {
        // Hexadecimal is a 32-bit pattern: 0x80000005 is the negative -2147483643.
        std::uint32_t bits = static_cast<std::uint32_t>(acc);
        if (negative)
            bits = 0u - bits;
        value = static_cast<std::int32_t>(bits);
        return true;
    }
    const std::int64_t signedValue =
        negative ? -static_cast<std::int64_t>(acc) : static_cast<std::int64_t>(acc);
    if (signedValue < INT32_MIN || signedValue > INT32_MAX)
        return false;
    value = static_cast<std::int32_t>(signedValue);
    return true;
}

TIniFile::TIniFile(const QString& fileName) : m_fileName(fileName)
{
    FileReadResult file = ReadRegularFile(fileName, kMaxSettingsFileBytes);
    if (file.State == FileReadResult::Missing)
        return;
    if (file.State == FileReadResult::Refused) {
        qCWarning(lcIniFile) << "cannot read" << fileName << file.Reason;
        m_unreadable = true;
        m_error = file.Reason;
        return;
    }
    m_bytes = std::move(file.Bytes);
    m_loaded = true;

    m_text = DecodeText(m_bytes);
    // Windows-1252 decoding keeps one character per byte; only UTF-8 changes the length.
    m_utf8 = m_text.size() != m_bytes.size();
    if (m_utf8 && m_bytes.startsWith(kUtf8Bom)) {
        m_bom = kUtf8Bom;
        m_bytes.remove(0, kUtf8Bom.size());
        if (m_text.startsWith(QChar(0xFEFF)))
            m_text.remove(0, 1);
    }

    // Line ends are the same bytes and characters in both encodings, so the byte lines
    // and the text lines pair up one to one.
    SplitLines(QByteArrayView(m_bytes), [&](qsizetype b, qsizetype len, qsizetype eol) {
        Line l;
        l.rawPos = b;
        l.rawLen = len;
        const char c = eol ? m_bytes[b + len] : '\0';
        l.eol = eol == 2 ? kCrLf : c == '\r' ? kCr : c == '\n' ? kLf : QByteArrayView();
        m_lines.push_back(l);
    });
    std::size_t n = 0;
    SplitLines(QStringView(m_text), [&](qsizetype b, qsizetype len, qsizetype) {
        if (n < m_lines.size()) {
            m_lines[n].textPos = b;
            m_lines[n].textLen = len;
        }
        ++n;
    });
    Q_ASSERT(n == m_lines.size());
    for (Line& l : m_lines)
        Parse(l);
    Reindex();
}

QStringView TIniFile::Text(const Line& l) const
{
    return l.isEdited ? QStringView(l.edited) : QStringView(m_text).sliced(l.textPos, l.textLen);
}

void TIniFile::Parse(Line& line) const
{
    const QStringView t = Text(line);
    qsizetype i = 0;
    while (i < t.size() && IsBlank(t[i]))
        ++i;
    line.kind = Kind::Other;
    if (i >= t.size() || t[i] == u';')
        return;
    const auto setName = [&](qsizetype b, qsizetype e) {
        while (b < e && IsBlank(t[b]))
            ++b;
        while (e > b && IsBlank(t[e - 1]))
            --e;
        line.namePos = b;
        line.nameLen = e - b;
    };
    if (t[i] == u'[') {
        const qsizetype close = t.indexOf(u']', i + 1);
        if (close >= 0) {
            line.kind = Kind::Section;
            setName(i + 1, close);
            return;
        }
        // No closing bracket: an ordinary line, as the profile functions treat it.
    }
    const qsizetype eq = t.indexOf(u'=', i);
    if (eq < 0)
        return;
    line.kind = Kind::Entry;
    setName(i, eq);
    // A replaced value keeps the spacing the line had after '='.
    line.valueStart = eq + 1;
    while (line.valueStart < t.size() && IsBlank(t[line.valueStart]))
        ++line.valueStart;
}

void TIniFile::Reindex()
{
    m_sections.clear();
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const Line& l = m_lines[i];
        if (l.kind == Kind::Section) {
            const QString key = Name(l).toString().toCaseFolded();
            if (!m_sections.contains(key))
                m_sections.insert(key, static_cast<qsizetype>(i));
        }
    }
}

qsizetype TIniFile::FindSection(QStringView section) const
{
    return m_sections.value(Trimmed(section).toString().toCaseFolded(), -1);
}

qsizetype TIniFile::FindKey(qsizetype header, QStringView key) const
{
    const QStringView k = Trimmed(key);
    for (std::size_t i = static_cast<std::size_t>(header) + 1; i < m_lines.size(); ++i) {
        const Line& l = m_lines[i];
        if (l.kind == Kind::Section)
            break;
        if (l.kind == Kind::Entry && Name(l).compare(k, Qt::CaseInsensitive) == 0)
            return static_cast<qsizetype>(i);
    }
    return -1;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const
{
    const qsizetype h = FindSection(section);
    if (h < 0)
        return def;
    const qsizetype k = FindKey(h, key);
    if (k < 0)
        return def;
    const Line& l = m_lines[static_cast<std::size_t>(k)];
    QStringView v = Trimmed(Text(l).sliced(l.valueStart));
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        v = v.sliced(1, v.size() - 2);
    return v.left(kIniMaxValueLength).toString();
}

std::int32_t TIniFile::ReadInteger(const QString& section, const QString& key,
                                   std::int32_t def) const
{
    // A missing key reads as empty text, which is not a number either.
    std::int32_t v = 0;
    return ParseIniInteger(ReadString(section, key, QString()), v) ? v : def;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(const QString& section) const
{
    return FindSection(section) >= 0;
}

TIniFile::Line TIniFile::MakeLine(const QString& text) const
{
    Line l;
    l.edited = text;
    l.isEdited = true;
    l.eol = kCrLf;
    Parse(l);
    return l;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    const QString stored = StoredValue(value);
    const QString keyName = Trimmed(key).toString();
    const qsizetype h = FindSection(section);
    if (h < 0) {
        if (!m_lines.empty() && m_lines.back().eol.isEmpty())
            m_lines.back().eol = kCrLf;
        m_lines.push_back(MakeLine(u'[' + Trimmed(section).toString() + u']'));
        m_lines.push_back(MakeLine(keyName + u'=' + stored));
        Reindex();
        return;
    }
    const qsizetype k = FindKey(h, keyName);
    if (k >= 0) {
        // Replaced where it stands; the key's own spelling and spacing stay.
        Line& l = m_lines[static_cast<std::size_t>(k)];
        l.edited = Text(l).left(l.valueStart) + stored;
        l.isEdited = true;
        return;
    }
    // After the last non-blank line of the section, so blank separators stay in place.
    std::size_t at = static_cast<std::size_t>(h) + 1;
    for (std::size_t i = at; i < m_lines.size() && m_lines[i].kind != Kind::Section; ++i)
        if (!Trimmed(Text(m_lines[i])).isEmpty())
            at = i + 1;
    if (m_lines[at - 1].eol.isEmpty())
        m_lines[at - 1].eol = kCrLf;
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at),
                   MakeLine(keyName + u'=' + stored));
    Reindex();
}

void TIniFile::WriteInteger(const QString& section, const QString& key, std::int32_t value)
{
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString& section, const QString& key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QByteArray TIniFile::Encode(QStringView text) const
{
    return m_utf8 ? text.toUtf8() : EncodeText(text);
}

QByteArray TIniFile::ToBytes() const
{
    QByteArray out = m_bom;
    out.reserve(m_bom.size() + m_bytes.size() + 64);
    for (const Line& l : m_lines) {
        if (l.isEdited)
            out += Encode(l.edited);
        else
            out += QByteArrayView(m_bytes).sliced(l.rawPos, l.rawLen);
        out += l.eol;
    }
    return out;
}

bool TIniFile::Save()
{
    m_error.clear();
    if (m_unreadable) {
        // Replacing a file we could not read would lose whatever else it holds.
        m_error = QStringLiteral("file exists but could not be read");
    } else {
        const QByteArray bytes = ToBytes();
        WriteFileSafely(
            m_fileName, [&bytes](QIODevice& out) { return out.write(bytes) == bytes.size(); },
            QString(), &m_error);
    }
    if (!m_error.isEmpty()) {
        qCWarning(lcIniFile) << "cannot write" << m_fileName << m_error;
        return false;
    }
    return true;
}

} // namespace evtrak
