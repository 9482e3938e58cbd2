#include "eventlog/uEventFilter.h"

#include <QRegularExpression>
#include <QStringList>
#include <cstdlib>
#include <limits>

namespace evtrak {

namespace {

QString DateText(qint64 seconds)
{
    char buf[kDateTimeTextLength + 1];
    return QString::fromLatin1(buf, WriteDateTimeText(seconds, buf));
}

} // namespace

bool EventFilter::IsActive() const
{
    return !Text.trimmed().isEmpty() || !Inputs.trimmed().isEmpty() ||
           FromSeconds != kNoDateSeconds || ToSeconds != kNoDateSeconds ||
           StateWanted != State::Any;
}

QString EventFilter::Description() const
{
    QStringList parts;
    if (!Text.trimmed().isEmpty())
        parts << QStringLiteral("libellé contenant « %1 »").arg(Text.trimmed());
    if (!Inputs.trimmed().isEmpty())
        parts << QStringLiteral("entrées %1").arg(Inputs.trimmed());
    if (FromSeconds != kNoDateSeconds)
        parts << QStringLiteral("depuis le %1").arg(DateText(FromSeconds));
    if (ToSeconds != kNoDateSeconds)
        parts << QStringLiteral("jusqu'au %1").arg(DateText(ToSeconds));
    if (StateWanted == State::On)
        parts << QStringLiteral("[ON]");
    else if (StateWanted == State::Off)
        parts << QStringLiteral("[OFF]");
    return QStringLiteral("Filtre : ") + parts.join(QStringLiteral(", "));
}

bool ParseInputList(const QString& text, std::vector<bool>& out, int maxInput)
{
    std::vector<bool> set(std::size_t(maxInput) + 1, false);
    const QStringList items =
        text.split(QRegularExpression(QStringLiteral("[,;\\s]+")), Qt::SkipEmptyParts);
    if (items.isEmpty())
        return false;
    for (const QString& item : items) {
        const QStringList ends = item.split(u'-');
        if (ends.size() > 2)
            return false;
        bool ok1 = false, ok2 = false;
        const int first = ends[0].toInt(&ok1);
        const int last = ends.size() == 2 ? ends[1].toInt(&ok2) : (ok2 = true, first);
        if (!ok1 || !ok2 || first < 0 || last > maxInput || first > last)
            return false;
        for (int i = first; i <= last; ++i)
            set[std::size_t(i)] = true;
    }
    out = std::move(set);
    return true;
}

QString FoldForSearch(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 128) {
            out += c.toLower();
            continue;
        }
        switch (c.toLower().unicode()) {
        case u'œ':
            out += QStringLiteral("oe");
            continue;
        case u'æ':
            out += QStringLiteral("ae");
            continue;
        case u'ß':
            out += QStringLiteral("ss");
            continue;
        default:
            break;
        }
        // "é" decomposes into "e" and a combining accent: the accent is dropped.
        const QString d = c.decomposition();
        if (!d.isEmpty() && c.decompositionTag() == QChar::Canonical) {
            for (const QChar part : d)
                if (part.category() != QChar::Mark_NonSpacing)
                    out += part.toLower();
        } else if (c.category() != QChar::Mark_NonSpacing) {
            out += c.toLower();
        }
    }
    return out;
}

EventMatcher::EventMatcher(const TEventList& list, const EventFilter& filter)
    : m_list(list), m_filter(filter), m_needle(FoldForSearch(filter.Text.trimmed()))
{
    if (!filter.Inputs.trimmed().isEmpty())
        m_inputsValid = ParseInputList(filter.Inputs, m_inputs);
}

bool EventMatcher::labelMatches(std::uint32_t id) const
{
    if (m_needle.isEmpty())
        return true;
    if (id >= m_labelCache.size())
        m_labelCache.resize(std::size_t(id) + 1, -1);
    std::int8_t& known = m_labelCache[id];
    if (known < 0)
        known = FoldForSearch(m_list.labelText(id)).contains(m_needle) ? 1 : 0;
    return known == 1;
}

bool EventMatcher::matches(int row) const
{
    if (!m_inputsValid)
        return false;
    const TEventList::RowFacts r = m_list.rowFacts(row);
    if (!m_inputs.empty() &&
        (r.Input < 0 || std::size_t(r.Input) >= m_inputs.size() || !m_inputs[std::size_t(r.Input)]))
        return false;
    if (m_filter.FromSeconds != kNoDateSeconds &&
        (r.Seconds == kNoDateSeconds || r.Seconds < m_filter.FromSeconds))
        return false;
    if (m_filter.ToSeconds != kNoDateSeconds &&
        (r.Seconds == kNoDateSeconds || r.Seconds > m_filter.ToSeconds))
        return false;
    switch (m_filter.StateWanted) {
    case EventFilter::State::On:
        if (r.Suffix != TEventList::OnSuffix)
            return false;
        break;
    case EventFilter::State::Off:
        if (r.Suffix == TEventList::OnSuffix)
            return false;
        break;
    case EventFilter::State::Any:
        break;
    }
    return labelMatches(r.LabelId);
}

std::vector<int> FilterRows(const TEventList& list, const EventFilter& filter)
{
    std::vector<int> rows;
    const int count = list.rowCount();
    if (!filter.IsActive()) {
        rows.resize(std::size_t(count));
        for (int i = 0; i < count; ++i)
            rows[std::size_t(i)] = i;
        return rows;
    }
    const EventMatcher matcher(list, filter);
    for (int i = 0; i < count; ++i)
        if (matcher.matches(i))
            rows.push_back(i);
    return rows;
}

TEventFilterProxy::TEventFilterProxy(TEventList& list, QObject* parent)
    : QSortFilterProxyModel(parent), m_list(list)
{
    setSourceModel(&list);
    setDynamicSortFilter(true); // an edited label is filtered again
    m_matcher = std::make_unique<EventMatcher>(m_list, m_filter);
}

void TEventFilterProxy::setFilter(const EventFilter& filter)
{
    m_filter = filter;
    m_matcher = std::make_unique<EventMatcher>(m_list, m_filter);
    invalidateFilter();
}

std::vector<int> TEventFilterProxy::shownRows() const
{
    std::vector<int> rows;
    const int count = rowCount();
    rows.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i)
        rows.push_back(mapToSource(index(i, 0)).row());
    return rows;
}

bool TEventFilterProxy::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    return m_matcher->matches(sourceRow);
}

int NearestEventRow(const TEventList& list, const std::vector<int>& rows, qint64 seconds)
{
    int best = -1;
    qint64 bestGap = std::numeric_limits<qint64>::max();
    for (int row : rows) {
        const qint64 s = list.rowFacts(row).Seconds;
        if (s == kNoDateSeconds)
            continue;
        const qint64 gap = s > seconds ? s - seconds : seconds - s;
        if (gap < bestGap) {
            bestGap = gap;
            best = row;
        }
    }
    return best;
}

} // namespace evtrak
