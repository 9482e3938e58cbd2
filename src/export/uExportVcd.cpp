// The VCD export (IEEE 1364 value change dump) for waveform viewers.
#include "export/uExport.h"
#include "export/uExportRows.h"

#include <QSet>
#include <algorithm>
#include <limits>
#include <map>
#include <numeric>
#include <vector>

namespace evtrak {

namespace {

// A label as a VCD identifier: ASCII letters, digits and '_' only, accents dropped.
QString VcdName(const QString& label, int input)
{
    const QString plain = label.normalized(QString::NormalizationForm_KD);
    QString name;
    for (const QChar c : plain) {
        if (c.unicode() < 128 && (c.isLetterOrNumber() || c == u'_')) {
            name += c;
        } else if ((c.isSpace() || c.isPunct() || c.isSymbol()) && !name.isEmpty() &&
                   !name.endsWith(u'_')) {
            name += u'_'; // accents (combining marks) are simply dropped
        }
    }
    while (name.endsWith(u'_'))
        name.chop(1);
    if (name.isEmpty())
        return QStringLiteral("TS%1").arg(input).replace(u'-', u'_');
    if (name.front().isDigit())
        name.prepend(u'_');
    return name;
}

// Short wire codes from the printable ASCII range: "!", "\"", ... then two characters.
QByteArray VcdCode(int index)
{
    QByteArray code;
    do {
        code.append(char('!' + index % 94));
        index /= 94;
    } while (index > 0);
    return code;
}

constexpr qint64 kNoOn = std::numeric_limits<qint64>::min();

struct Wire
{
    QString Name;
    QByteArray Code;
    bool Initial = false;
    qint64 LastChangeMs = std::numeric_limits<qint64>::min();
    qint64 LastOnMs = kNoOn; // edge mode: time of the pending " [ON]"
};

struct Change
{
    qint64 Ms;
    int Wire;
    bool Value;
};

} // namespace

QByteArray ExportVcd(const TEventList& list, const QDateTime& now)
{
    // Oldest first: the list holds the newest on top; equal times keep that order.
    std::vector<ExportRow> rows;
    for (int row = list.rowCount() - 1; row >= 0; --row) {
        ExportRow r = ReadExportRow(list, row);
        if (r.Seconds != kNoDateSeconds)
            rows.push_back(std::move(r));
    }
    const auto when = [](const ExportRow& r) { return r.Seconds * 1000 + std::max(0, r.Ms); };
    std::stable_sort(rows.begin(), rows.end(),
                     [&when](const ExportRow& a, const ExportRow& b) { return when(a) < when(b); });

    // One wire per input, in input order, named after its first label.
    std::map<int, int> wireOfInput;
    for (const ExportRow& r : rows)
        wireOfInput.emplace(r.Input, 0);
    std::vector<Wire> wires;
    QSet<QString> names;
    for (auto& [input, index] : wireOfInput) {
        index = int(wires.size());
        const auto first =
            std::find_if(rows.begin(), rows.end(),
                         [input = input](const ExportRow& r) { return r.Input == input; });
        Wire w;
        w.Name = VcdName(first->Label, input);
        if (names.contains(w.Name))
            w.Name += QStringLiteral("_TS%1").arg(input).replace(u'-', u'_');
        names.insert(w.Name);
        w.Code = VcdCode(index);
        // An input whose first row is " [OFF]" was on before the list began.
        w.Initial = first->HasState && !first->State;
        wires.push_back(w);
    }

    // Changes in ms since the first row's second; pulses may start before it. Rows
    // captured here know their milliseconds. Rows read from a file know the second only:
    // each change is placed at the earliest moment its second, its duration and the
    // input's previous change allow. Either way one input never changes twice at the
    // same instant, so two pulses never merge into one.
    std::vector<Change> changes;
    const qint64 base = rows.empty() ? 0 : rows.front().Seconds * 1000;
    for (const ExportRow& r : rows) {
        Wire& w = wires[std::size_t(wireOfInput[r.Input])];
        const int wi = wireOfInput[r.Input];
        const bool exact = r.Ms >= 0;
        const qint64 at = r.Seconds * 1000 - base + (exact ? r.Ms : 0);
        const qint64 ms = std::max<qint64>(0, r.DurationMs);
        const qint64 after = w.LastChangeMs == std::numeric_limits<qint64>::min()
                                 ? w.LastChangeMs
                                 : w.LastChangeMs + 1;
        if (r.HasState && r.State) {
            const qint64 t = std::max(at, after);
            changes.push_back({t, wi, true});
            w.LastOnMs = t;
            w.LastChangeMs = t;
        } else if (r.HasState) {
            // Without the milliseconds, the measured length places the end better.
            qint64 end = at;
            if (!exact && w.LastOnMs != kNoOn)
                end = std::max(at, w.LastOnMs + ms);
            end = std::max(end, after);
            changes.push_back({end, wi, false});
            w.LastOnMs = kNoOn;
            w.LastChangeMs = end;
        } else {
            // A pulse of 0 ms still shows: it lasts one.
            const qint64 length = std::max<qint64>(1, ms);
            const qint64 start = std::max(at - length, after);
            // A known end stays where it was; an end known to the second may come later.
            const qint64 end = std::max(at, start + (exact ? 1 : length));
            changes.push_back({start, wi, true});
            changes.push_back({end, wi, false});
            w.LastChangeMs = end;
        }
    }
    std::stable_sort(changes.begin(), changes.end(),
                     [](const Change& a, const Change& b) { return a.Ms < b.Ms; });
    // Time 0 is a whole second at least one second before the first change.
    qint64 origin = changes.empty() ? 0 : std::min<qint64>(0, changes.front().Ms);
    origin = (origin >= 0 ? origin / 1000 : (origin - 999) / 1000) * 1000 - 1000;

    // Row seconds count wall-clock time: UTC arithmetic keeps them clear of DST shifts.
    const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
    const QDateTime zero =
        rows.empty() ? now : epoch.addSecs(rows.front().Seconds).addMSecs(origin);
    QByteArray out;
    out += "$date\n   " + now.toString(QStringLiteral("dd/MM/yyyy hh:mm:ss")).toUtf8() + "\n$end\n";
    out += "$version\n   Evtrak " EVTRAK_VERSION "\n$end\n";
    out +=
        "$comment\n   Temps 0 : " + zero.toString(QStringLiteral("dd/MM/yyyy hh:mm:ss")).toUtf8() +
        "\n$end\n";
    out += "$timescale 1 ms $end\n$scope module evtrak $end\n";
    for (const Wire& w : wires)
        out += "$var wire 1 " + w.Code + ' ' + w.Name.toLatin1() + " $end\n";
    out += "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
    for (const Wire& w : wires)
        out += (w.Initial ? '1' : '0') + w.Code + '\n';
    out += "$end\n";
    qint64 written = 0;
    for (const Change& c : changes) {
        const qint64 t = c.Ms - origin;
        if (t != written)
            out += '#' + QByteArray::number(t) + '\n';
        written = t;
        out += (c.Value ? '1' : '0') + wires[std::size_t(c.Wire)].Code + '\n';
    }
    // One more second so that viewers show the last state.
    out += '#' + QByteArray::number(written + 1000) + '\n';
    return out;
}

} // namespace evtrak
