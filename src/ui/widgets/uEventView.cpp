#include "ui/widgets/uEventView.h"

#include <QEvent>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QToolButton>
#include <algorithm>

namespace evtrak {

TEventView::TEventView(QTableView& view, TEventList& list, QObject* parent)
    : QObject(parent), m_view(view), m_list(list)
{
    m_newest = new QToolButton(&m_view);
    m_newest->setObjectName(QStringLiteral("btnNewestEvents"));
    m_newest->setToolTip(QStringLiteral("Revenir aux évenements les plus récents"));
    m_newest->setCursor(Qt::PointingHandCursor);
    m_newest->setFocusPolicy(Qt::NoFocus);
    m_newest->hide();
    connect(m_newest, &QToolButton::clicked, this, &TEventView::ShowNewest);
    connect(m_view.verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value == 0) {
            m_pinned = false;
            SetUnseen(0);
        }
    });
    m_view.installEventFilter(this);
    m_listSelection = new QItemSelectionModel(&m_list, this);
    Show(&m_list, m_listSelection);
    Watch(&m_list);
}

void TEventView::Watch(QAbstractItemModel* model)
{
    connect(model, &QAbstractItemModel::rowsInserted, this, &TEventView::RowsInserted);
    connect(model, &QAbstractItemModel::rowsInserted, this, &TEventView::countsChanged);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &TEventView::countsChanged);
    connect(model, &QAbstractItemModel::modelReset, this, &TEventView::countsChanged);
    // A list put back together (recovered events) or loaded: nothing left to count.
    connect(model, &QAbstractItemModel::modelReset, this, [this, model] {
        if (model == m_view.model())
            SetUnseen(0);
    });
}

void TEventView::Show(QAbstractItemModel* model, QItemSelectionModel* selection)
{
    QItemSelectionModel* before = m_view.selectionModel();
    // What was selected, and the current row, in list rows.
    QItemSelection carried;
    QModelIndex current;
    if (before) {
        carried = before->selection();
        current = before->currentIndex();
        if (before->model() == m_proxy) {
            carried = m_proxy->mapSelectionToSource(carried);
            current = m_proxy->mapToSource(current);
        }
    }
    Q_EMIT modelAboutToChange();
    // A new model resets the header: the widths the user set are kept.
    QHeaderView* cols = m_view.horizontalHeader();
    std::vector<std::pair<int, bool>> widths;
    for (int i = 0; i < cols->count(); ++i)
        widths.emplace_back(cols->sectionSize(i), cols->isSectionHidden(i));
    m_view.setModel(model);
    QItemSelectionModel* made = m_view.selectionModel();
    m_view.setSelectionModel(selection);
    if (made != selection && made != m_listSelection && made != m_proxySelection)
        delete made;
    for (int i = 0; i < int(widths.size()) && i < cols->count(); ++i) {
        cols->setSectionHidden(i, widths[std::size_t(i)].second);
        cols->resizeSection(i, widths[std::size_t(i)].first);
    }
    if (model == m_proxy) {
        carried = m_proxy->mapSelectionFromSource(carried);
        current = m_proxy->mapFromSource(current);
    }
    // Rows the filter hides leave the selection: every command then works on rows the
    // user can see.
    selection->select(carried, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    selection->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    m_pinned = false;
    SetUnseen(0);
    Q_EMIT modelChanged();
    Q_EMIT countsChanged();
}

void TEventView::SetFilter(const EventFilter& filter)
{
    if (!filter.IsActive()) {
        ClearFilter();
        if (m_proxy)
            m_proxy->setFilter(filter);
        return;
    }
    if (!m_proxy) {
        m_proxy = new TEventFilterProxy(m_list, this);
        m_proxySelection = new QItemSelectionModel(m_proxy, this);
        Watch(m_proxy);
    }
    if (m_filtered) {
        // Rows the new filter hides leave the selection; rows it shows again come in
        // unselected, and are no new events.
        m_refiltering = true;
        m_proxy->setFilter(filter);
        m_refiltering = false;
        SetUnseen(0);
    } else {
        m_proxy->setFilter(filter);
        m_filtered = true;
        Show(m_proxy, m_proxySelection);
    }
    Q_EMIT countsChanged();
}

void TEventView::ClearFilter()
{
    if (!m_filtered)
        return;
    m_filtered = false;
    Show(&m_list, m_listSelection);
}

std::vector<int> TEventView::ShownRows() const
{
    if (m_filtered)
        return m_proxy->shownRows();
    std::vector<int> rows(std::size_t(m_list.rowCount()));
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i] = int(i);
    return rows;
}

int TEventView::ListRow(const QModelIndex& shown) const
{
    if (!shown.isValid())
        return -1;
    if (shown.model() == m_proxy)
        return m_proxy->mapToSource(shown).row();
    return shown.model() == &m_list ? shown.row() : -1;
}

std::vector<int> TEventView::SelectedRows() const
{
    std::vector<int> rows;
    const QAbstractItemModel* shown = m_view.model();
    for (const QItemSelectionRange& r : m_view.selectionModel()->selection())
        for (int row = r.top(); row <= r.bottom(); ++row)
            rows.push_back(ListRow(shown->index(row, 0)));
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (!rows.empty() && rows.front() < 0)
        rows.erase(rows.begin());
    return rows;
}

void TEventView::SelectShown(QItemSelectionModel::SelectionFlag how)
{
    const QAbstractItemModel* shown = m_view.model();
    if (shown->rowCount() > 0)
        m_view.selectionModel()->select(
            QItemSelection(shown->index(0, 0), shown->index(shown->rowCount() - 1, 0)),
            how | QItemSelectionModel::Rows);
}

bool TEventView::SelectRow(int row)
{
    QModelIndex shown = m_list.index(row, 0);
    if (m_filtered)
        shown = m_proxy->mapFromSource(shown);
    if (!shown.isValid())
        return false;
    m_view.selectionModel()->setCurrentIndex(shown, QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
    m_view.scrollTo(shown, QAbstractItemView::PositionAtCenter);
    // The row stays in view also when it is among the newest (the view at the top).
    m_pinned = true;
    return true;
}

void TEventView::ShowNewest()
{
    m_pinned = false;
    SetUnseen(0);
    m_view.scrollToTop();
}

void TEventView::RowsInserted(const QModelIndex& parent, int first, int last)
{
    if (parent.isValid() || m_refiltering || sender() != m_view.model())
        return;
    QScrollBar* bar = m_view.verticalScrollBar();
    if (bar->value() == 0 && !m_pinned)
        return; // at the top: the newest rows come into view
    // The row at the top of the view before the insertion: the header already counts
    // the new rows, the scroll bar not yet.
    const int count = last - first + 1;
    const int step = m_view.verticalScrollMode() == QAbstractItemView::ScrollPerItem
                         ? 1
                         : m_view.verticalHeader()->defaultSectionSize();
    const int topBefore = m_view.verticalScrollMode() == QAbstractItemView::ScrollPerItem
                              ? bar->value()
                              : m_view.rowAt(0);
    if (first > topBefore)
        return; // below the rows in view: nothing moves
    // The scroll range follows the new rows only at the next layout: make room now so
    // that the rows in view keep their place.
    bar->setMaximum(bar->maximum() + count * step);
    bar->setValue(bar->value() + count * step);
    SetUnseen(m_unseen + count);
}

void TEventView::SetUnseen(int rows)
{
    m_unseen = rows;
    if (rows <= 0) {
        m_newest->hide();
        return;
    }
    m_newest->setText(rows == 1 ? QStringLiteral("1 nouvel évenement ↑")
                                : QStringLiteral("%1 nouveaux évenements ↑").arg(rows));
    m_newest->adjustSize();
    PlaceButton();
    m_newest->show();
    m_newest->raise();
}

void TEventView::PlaceButton()
{
    const QRect area = m_view.viewport()->geometry();
    m_newest->move(area.left() + (area.width() - m_newest->width()) / 2, area.top() + 4);
}

bool TEventView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_view && event->type() == QEvent::Resize && m_newest->isVisible())
        PlaceButton();
    return QObject::eventFilter(watched, event);
}

} // namespace evtrak
