#include "settings/ktIniFile.h"

#include "base/ktMisc.h"
#include "base/ktSafeFile.h"

#include <QLoggingCategory>
#include <QStringDecoder>
#include <QVarLengthArray>
#include <algorithm>

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
bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// Blanks removed at both ends, of a line's bytes or characters.
template <typename View> View TrimmedView(View s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.sliced(b, e - b);
}

QStringView Trimmed(QStringView s)
{
    return TrimmedView(s);
}

// The hash of a name's case-folded form, the same for its bytes (ASCII only) and its text.
quint32 FoldedHash(QStringView name)
{
    QVarLengthArray<char16_t, 128> folded;
    for (QChar c : name) {
        const char16_t u = c.unicode();
        if (u >= 0x80)
            return static_cast<quint32>(qHash(name.toString().toCaseFolded()));
        folded.append(u >= u'A' && u <= u'Z' ? char16_t(u + 32) : u);
    }
    return static_cast<quint32>(qHash(QStringView(folded.constData(), folded.size())));
}
quint32 FoldedHash(QByteArrayView asciiName)
{
    QVarLengthArray<char16_t, 128> folded;
    for (char c : asciiName)
        folded.append(c >= 'A' && c <= 'Z' ? char16_t(c + 32) : char16_t(c));
    return static_cast<quint32>(qHash(QStringView(folded.constData(), folded.size())));
}

int Shape(char c)
{
    return c;
}
int Shape(QChar c)
{
    return c.unicode() < 0x80 ? c.unicode() : 0x80;
}

// What a line is: "[name]" a section header, "name=value" an entry, anything else (a
// comment after ';', a blank line, text without '=') other. Without its closing bracket
// a header is an ordinary line, as the profile functions treat it.
template <typename View> int ShapeOfView(View t)
{
    qsizetype i = 0;
    while (i < t.size() && IsBlank(t[i]))
        ++i;
    if (i >= t.size() || Shape(t[i]) == ';')
        return 0;
    if (Shape(t[i]) == '[')
        for (qsizetype k = i + 1; k < t.size(); ++k)
            if (Shape(t[k]) == ']')
                return 1;
    for (qsizetype k = i; k < t.size(); ++k)
        if (Shape(t[k]) == '=')
            return 2;
    return 0;
}

// The name (trimmed) and the start of the value (after '=' and blanks) of a line whose
// kind is known.
template <typename View> auto PartsOfView(View t, bool section)
{
    struct
    {
        qsizetype namePos = 0, nameLen = 0, valueStart = 0;
    } p;
    qsizetype i = 0;
    while (i < t.size() && IsBlank(t[i]))
        ++i;
    qsizetype end = i;
    if (section) {
        ++i; // '['
        end = i;
        while (end < t.size() && Shape(t[end]) != ']')
            ++end;
    } else {
        while (end < t.size() && Shape(t[end]) != '=')
            ++end;
        p.valueStart = std::min(end + 1, t.size());
        while (p.valueStart < t.size() && IsBlank(t[p.valueStart]))
            ++p.valueStart;
    }
    const View name = TrimmedView(t.sliced(i, end - i));
    p.namePos = name.isEmpty() ? i : name.data() - t.data();
    p.nameLen = name.size();
    return p;
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

    // The whole file is UTF-8 when it is valid UTF-8 with some non-ASCII byte, else
    // Windows-1252 (one character per byte). Lines are decoded one at a time when read:
    // line ends and the characters that give a line its shape are ASCII, the same bytes
    // in both encodings.
    const bool ascii = std::all_of(m_bytes.cbegin(), m_bytes.cend(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    m_utf8 = !ascii && QByteArrayView(m_bytes).isValidUtf8();
    if (m_utf8 && m_bytes.startsWith(kUtf8Bom)) {
        m_bom = kUtf8Bom;
        m_bytes.remove(0, kUtf8Bom.size());
    }

    std::size_t count = 0;
    SplitLines(QByteArrayView(m_bytes), [&](qsizetype, qsizetype, qsizetype) { ++count; });
    // Room for the keys a save adds, so that adding them does not double the lines' memory.
    m_lines.reserve(count + count / 64 + 512);
    SplitLines(QByteArrayView(m_bytes), [&](qsizetype b, qsizetype len, qsizetype eol) {
        Line l;
        l.pos = static_cast<quint32>(b);
        l.len = static_cast<quint32>(len);
        const char c = eol ? m_bytes[b + len] : '\0';
        l.eol = eol == 2 ? EolCrLf : c == '\r' ? EolCr : c == '\n' ? EolLf : EolNone;
        l.kind = static_cast<quint32>(ShapeOfView(Bytes(l)));
        m_lines.push_back(l);
    });
    Reindex();
}

QByteArrayView TIniFile::Bytes(const Line& l) const
{
    return QByteArrayView(m_bytes).sliced(l.pos, l.len);
}

QString TIniFile::Decode(QByteArrayView bytes) const
{
    if (!m_utf8)
        return DecodeWindows1252(bytes);
    // A BOM inside the file is a character like any other (fromUtf8 would drop one at the
    // start of every line).
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return utf8.decode(bytes);
}

TIniFile::Parts TIniFile::PartsOf(const Line& l) const
{
    const bool section = KindOf(l) == Kind::Section;
    const auto parts = [](auto p) { return Parts{p.namePos, p.nameLen, p.valueStart}; };
    return l.edited ? parts(PartsOfView(QStringView(m_edited[l.pos]), section))
                    : parts(PartsOfView(Bytes(l), section));
}

QString TIniFile::Name(const Line& l) const
{
    const Parts p = PartsOf(l);
    return l.edited ? m_edited[l.pos].sliced(p.namePos, p.nameLen)
                    : Decode(Bytes(l).sliced(p.namePos, p.nameLen));
}

bool TIniFile::NameIsPassword(const Line& l) const
{
    static const QLatin1StringView password("password");
    const Parts p = PartsOf(l);
    if (p.nameLen != password.size())
        return false;
    if (l.edited)
        return QStringView(m_edited[l.pos])
                   .sliced(p.namePos, p.nameLen)
                   .compare(password, Qt::CaseInsensitive) == 0;
    return QLatin1StringView(Bytes(l).sliced(p.namePos, p.nameLen))
               .compare(password, Qt::CaseInsensitive) == 0;
}

QString TIniFile::Value(const Line& l) const
{
    const Parts p = PartsOf(l);
    const auto unquoted = [](auto v) {
        v = TrimmedView(v);
        if (v.size() >= 2 && (Shape(v.front()) == '"' || Shape(v.front()) == '\'') &&
            v.back() == v.front())
            v = v.sliced(1, v.size() - 2);
        return v;
    };
    if (l.edited)
        return unquoted(QStringView(m_edited[l.pos]).sliced(p.valueStart))
            .left(kIniMaxValueLength)
            .toString();
    // Only the bytes that can make the longest value are decoded: a huge line stays in
    // the file's bytes.
    const QByteArrayView v = unquoted(Bytes(l).sliced(p.valueStart));
    return Decode(v.first(std::min<qsizetype>(v.size(), 4 * kIniMaxValueLength + 4)))
        .left(kIniMaxValueLength);
}

quint32 TIniFile::HashOf(const Line& l) const
{
    const Parts p = PartsOf(l);
    if (l.edited)
        return FoldedHash(QStringView(m_edited[l.pos]).sliced(p.namePos, p.nameLen));
    const QByteArrayView name = Bytes(l).sliced(p.namePos, p.nameLen);
    const bool ascii = std::all_of(name.begin(), name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? FoldedHash(name) : FoldedHash(QStringView(Decode(name)));
}

void TIniFile::Reindex()
{
    m_sections.clear();
    m_sections.reserve(
        static_cast<std::size_t>(std::count_if(
            m_lines.begin(), m_lines.end(),
            [](const Line& l) { return static_cast<Kind>(l.kind) == Kind::Section; })) +
        64);
    for (std::size_t i = 0; i < m_lines.size(); ++i)
        if (KindOf(m_lines[i]) == Kind::Section)
            m_sections.push_back({HashOf(m_lines[i]), static_cast<quint32>(i)});
    std::sort(m_sections.begin(), m_sections.end(), [](const SectionRef& a, const SectionRef& b) {
        return a.hash != b.hash ? a.hash < b.hash : a.line < b.line;
    });
}

qsizetype TIniFile::FindSection(QStringView section) const
{
    const QStringView name = Trimmed(section);
    const QString folded = name.toString().toCaseFolded();
    const quint32 hash = FoldedHash(name);
    auto it = std::lower_bound(m_sections.begin(), m_sections.end(), hash,
                               [](const SectionRef& r, quint32 h) { return r.hash < h; });
    for (; it != m_sections.end() && it->hash == hash; ++it)
        if (Name(m_lines[it->line]).toCaseFolded() == folded)
            return static_cast<qsizetype>(it->line);
    return -1;
}

qsizetype TIniFile::FindKey(qsizetype header, QStringView key) const
{
    const QStringView k = Trimmed(key);
    for (std::size_t i = static_cast<std::size_t>(header) + 1; i < m_lines.size(); ++i) {
        const Line& l = m_lines[i];
        if (KindOf(l) == Kind::Section)
            break;
        if (KindOf(l) == Kind::Entry && Name(l).compare(k, Qt::CaseInsensitive) == 0)
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
    return Value(m_lines[static_cast<std::size_t>(k)]);
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

void TIniFile::SetText(Line& l, const QString& text)
{
    if (l.edited) {
        m_edited[l.pos] = text;
        return;
    }
    l.pos = static_cast<quint32>(m_edited.size());
    l.len = 0;
    l.edited = 1;
    m_edited.push_back(text);
}

void TIniFile::InsertLine(std::size_t at, const QString& text)
{
    Line l;
    l.eol = EolCrLf;
    l.kind = static_cast<quint32>(ShapeOfView(QStringView(text)));
    SetText(l, text);
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), l);
    // The lines below move down one; the index keeps its order.
    if (at + 1 < m_lines.size())
        for (SectionRef& r : m_sections)
            if (r.line >= at)
                ++r.line;
    if (KindOf(l) == Kind::Section) {
        const SectionRef ref{HashOf(l), static_cast<quint32>(at)};
        m_sections.insert(std::upper_bound(m_sections.begin(), m_sections.end(), ref,
                                           [](const SectionRef& a, const SectionRef& b) {
                                               return a.hash != b.hash ? a.hash < b.hash
                                                                       : a.line < b.line;
                                           }),
                          ref);
    }
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    const QString stored = StoredValue(value);
    const QString keyName = Trimmed(key).toString();
    const qsizetype h = FindSection(section);
    if (h < 0) {
        if (!m_lines.empty() && m_lines.back().eol == EolNone)
            m_lines.back().eol = EolCrLf;
        InsertLine(m_lines.size(), u'[' + Trimmed(section).toString() + u']');
        InsertLine(m_lines.size(), keyName + u'=' + stored);
        return;
    }
    const qsizetype k = FindKey(h, keyName);
    if (k >= 0) {
        // Replaced where it stands; the key's own spelling and spacing stay.
        Line& l = m_lines[static_cast<std::size_t>(k)];
        // The value's start is counted in the line's own units: bytes for a kept line.
        const qsizetype start = PartsOf(l).valueStart;
        SetText(l,
                (l.edited ? m_edited[l.pos].left(start) : Decode(Bytes(l).first(start))) + stored);
        return;
    }
    // After the last non-blank line of the section, so blank separators stay in place.
    std::size_t at = static_cast<std::size_t>(h) + 1;
    for (std::size_t i = at; i < m_lines.size() && KindOf(m_lines[i]) != Kind::Section; ++i) {
        const Line& l = m_lines[i];
        const bool blank = l.edited ? TrimmedView(QStringView(m_edited[l.pos])).isEmpty()
                                    : TrimmedView(Bytes(l)).isEmpty();
        if (!blank)
            at = i + 1;
    }
    if (m_lines[at - 1].eol == EolNone)
        m_lines[at - 1].eol = EolCrLf;
    InsertLine(at, keyName + u'=' + stored);
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

bool TIniFile::WriteBytes(const std::function<bool(QByteArrayView)>& sink) const
{
    constexpr qsizetype kPiece = 1 << 20;
    QByteArray out = m_bom;
    out.reserve(kPiece + 4096);
    for (const Line& l : m_lines) {
        const QByteArrayView eol = l.eol == EolCrLf ? kCrLf
                                   : l.eol == EolLf ? kLf
                                   : l.eol == EolCr ? kCr
                                                    : QByteArrayView();
        if (!l.edited && l.len > kPiece) {
            // A huge kept line goes straight from the file's bytes.
            if ((!out.isEmpty() && !sink(out)) || !sink(Bytes(l)))
                return false;
            out.clear();
        } else {
            out += l.edited ? Encode(m_edited[l.pos]) : Bytes(l).toByteArray();
        }
        out += eol;
        if (out.size() >= kPiece) {
            if (!sink(out))
                return false;
            out.clear();
        }
    }
    return out.isEmpty() || sink(out);
}

QByteArray TIniFile::ToBytes() const
{
    QByteArray all;
    all.reserve(m_bom.size() + m_bytes.size() + 64);
    WriteBytes([&all](QByteArrayView piece) {
        all += piece;
        return true;
    });
    return all;
}

bool TIniFile::HoldsPassword() const
{
    return std::any_of(m_lines.begin(), m_lines.end(), [this](const Line& l) {
        return KindOf(l) == Kind::Entry && NameIsPassword(l) && !Value(l).isEmpty();
    });
}

bool TIniFile::Save()
{
    m_error.clear();
    if (m_unreadable) {
        // Replacing a file we could not read would lose whatever else it holds.
        m_error = QStringLiteral("le fichier existe mais n'a pas pu être lu");
    } else {
        WriteFileSafely(
            m_fileName,
            [this](QIODevice& out) {
                return WriteBytes([&out](QByteArrayView piece) {
                    return out.write(piece.data(), piece.size()) == piece.size();
                });
            },
            QString(), &m_error, HoldsPassword() ? FileAccess::Private : FileAccess::Usual);
    }
    if (!m_error.isEmpty()) {
        qCWarning(lcIniFile) << "cannot write" << m_fileName << m_error;
        return false;
    }
    return true;
}

} // namespace evtrak
