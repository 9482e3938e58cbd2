// The main window's search bar, "Aller à la date..." and "Statistiques...": the list
// seen through a filter, and the commands that then work on the rows shown.
#include "ui/widgets/frmMain.h"

#include "base/uResStr.h"
#include "eventlog/uEventFilter.h"
#include "eventlog/uEventStatistics.h"
#include "eventlog/uLog.h"
#include "ui/widgets/frmGoTo.h"
#include "ui/widgets/frmReport01.h"
#include "ui/widgets/frmStatistics.h"
#include "ui/widgets/ktElidedLabel.h"
#include "ui/widgets/uFilterBar.h"
#include "ui/widgets/uMessagePrompt.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>

namespace evtrak {

namespace {
// A row's date-time as the list shows it (invalid for a row without one).
QDateTime RowDateTime(const TEventList& list, int row)
{
    return QDateTime::fromString(list.text(row, TEventList::ColDateTime),
                                 QStringLiteral("dd/MM/yyyy hh:mm:ss"));
}
} // namespace

bool TfmMain::FilterActive() const
{
    return m_proxy && m_lvEventsList->model() == m_proxy;
}

std::vector<int> TfmMain::ShownRows() const
{
    if (FilterActive())
        return m_proxy->shownRows();
    std::vector<int> rows(std::size_t(m_list->rowCount()));
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i] = int(i);
    return rows;
}

std::unique_ptr<ReportRows> TfmMain::ShownReportRows() const
{
    if (!FilterActive())
        return nullptr;
    auto rows = std::make_unique<ReportRows>();
    rows->Rows = m_proxy->shownRows();
    rows->Description = m_proxy->filter().Description();
    return rows;
}

void TfmMain::ActLogFindExecute()
{
    if (!m_filterBar->isVisible()) {
        // The date range starts on the day of the events shown.
        const int rows = m_list->rowCount();
        if (rows > 0) {
            const QDateTime newest = RowDateTime(*m_list, 0);
            const QDateTime oldest = RowDateTime(*m_list, rows - 1);
            m_filterBar->proposeDates(oldest, newest);
        }
        m_filterBar->show();
        if (!m_proxy) {
            m_proxy = new TEventFilterProxy(*m_list, this);
            m_proxySelection = new QItemSelectionModel(m_proxy, this);
            connect(m_filterBar, &TFilterBar::filterChanged, this, &TfmMain::ApplyFilter);
            connect(m_filterBar, &TFilterBar::closeRequested, this, &TfmMain::CloseFilter);
            connect(m_proxySelection, &QItemSelectionModel::selectionChanged, this,
                    [this] { SyncSelection(true); });
            connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                    [this] { SyncSelection(false); });
            // Both counts follow rows recorded, deleted or loaded while the bar is open.
            for (QAbstractItemModel* m : {static_cast<QAbstractItemModel*>(m_proxy),
                                          static_cast<QAbstractItemModel*>(m_list)}) {
                connect(m, &QAbstractItemModel::rowsInserted, this, &TfmMain::UpdateFilterCount);
                connect(m, &QAbstractItemModel::rowsRemoved, this, &TfmMain::UpdateFilterCount);
                connect(m, &QAbstractItemModel::modelReset, this, &TfmMain::UpdateFilterCount);
            }
        }
        ApplyFilter();
    }
    m_filterBar->focusText();
}

void TfmMain::SetFilter(const EventFilter& filter)
{
    if (!m_filterBar->isVisible())
        ActLogFindExecute();
    m_proxy->setFilter(filter);
    UseFilteredView(filter.IsActive());
}

void TfmMain::ApplyFilter()
{
    if (!m_proxy || !m_filterBar->isVisible())
        return;
    const EventFilter f = m_filterBar->filter();
    m_proxy->setFilter(f);
    UseFilteredView(f.IsActive());
}

void TfmMain::CloseFilter()
{
    UseFilteredView(false);
    m_filterBar->hide();
    m_lvEventsList->setFocus();
}

void TfmMain::UseFilteredView(bool filtered)
{
    QAbstractItemModel* wanted = filtered ? static_cast<QAbstractItemModel*>(m_proxy) : m_list;
    if (m_lvEventsList->model() != wanted) {
        // A new model resets the header: the widths the user set are kept.
        QHeaderView* cols = m_lvEventsList->horizontalHeader();
        std::vector<std::pair<int, bool>> widths;
        for (int i = 0; i < cols->count(); ++i)
            widths.emplace_back(cols->sectionSize(i), cols->isSectionHidden(i));
        m_syncingSelection = true;
        m_fittingColumns = true; // the reset sizes are not the user's
        m_lvEventsList->setModel(wanted);
        QItemSelectionModel* own = m_lvEventsList->selectionModel();
        m_lvEventsList->setSelectionModel(filtered ? m_proxySelection : m_list->selectionModel());
        if (own != m_proxySelection && own != m_list->selectionModel())
            delete own;
        m_syncingSelection = false;
        for (int i = 0; i < int(widths.size()); ++i) {
            cols->setSectionHidden(i, widths[std::size_t(i)].second);
            cols->resizeSection(i, widths[std::size_t(i)].first);
        }
        m_fittingColumns = false;
        FitLabelColumn();
    }
    if (filtered) {
        // Rows the filter hides leave the selection: every command then works on rows
        // the user can see.
        m_syncingSelection = true;
        m_proxySelection->select(
            m_proxy->mapSelectionFromSource(m_list->selectionModel()->selection()),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_list->selectionModel()->select(
            m_proxy->mapSelectionToSource(m_proxySelection->selection()),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_syncingSelection = false;
    }
    UpdateFilterCount();
}

void TfmMain::SyncSelection(bool fromView)
{
    if (m_syncingSelection || !FilterActive())
        return;
    m_syncingSelection = true;
    const auto flags = QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
    if (fromView)
        m_list->selectionModel()->select(
            m_proxy->mapSelectionToSource(m_proxySelection->selection()), flags);
    else
        m_proxySelection->select(
            m_proxy->mapSelectionFromSource(m_list->selectionModel()->selection()), flags);
    m_syncingSelection = false;
}

void TfmMain::UpdateFilterCount()
{
    const bool filtered = FilterActive();
    m_filterPanel->setVisible(filtered);
    if (filtered)
        m_filterPanel->setText(
            QStringLiteral("%1 / %2 affichés").arg(m_proxy->rowCount()).arg(m_list->rowCount()));
}

// ---- Go to a date and time ----

bool TfmMain::GoToDateTime(const QDateTime& when)
{
    const int row =
        NearestEventRow(*m_list, ShownRows(), SecondsFromDateTime(DateTimeFromQt(when)));
    if (row < 0)
        return false;
    const QModelIndex source = m_list->index(row, 0);
    const QModelIndex shown = FilterActive() ? m_proxy->mapFromSource(source) : source;
    m_lvEventsList->selectionModel()->setCurrentIndex(shown, QItemSelectionModel::ClearAndSelect |
                                                                 QItemSelectionModel::Rows);
    m_lvEventsList->scrollTo(shown, QAbstractItemView::PositionAtCenter);
    return true;
}

void TfmMain::ActLogGoToExecute()
{
    const std::vector<int> rows = ShownRows();
    if (rows.empty())
        return m_prompt->Inform(ResStr::NoEvents());
    // Proposes the current row's time, or the newest event's.
    const QModelIndex current = m_lvEventsList->currentIndex();
    int row = rows.front();
    if (current.isValid())
        row = FilterActive() ? m_proxy->mapToSource(current).row() : current.row();
    const QDateTime proposed = RowDateTime(*m_list, row);
    TfmGoTo dialog(proposed.isValid() ? proposed : QDateTime::currentDateTime(), this);
    if (dialog.exec() == QDialog::Accepted)
        GoToDateTime(dialog.dateTime());
}

// ---- Statistics ----

QString TfmMain::StatisticsCaption() const
{
    const int shown = int(ShownRows().size());
    if (FilterActive())
        return QStringLiteral("%1 (%2 évenements sur %3)")
            .arg(m_proxy->filter().Description())
            .arg(shown)
            .arg(m_list->rowCount());
    return QStringLiteral("Tous les évenements de la liste (%1)").arg(shown);
}

void TfmMain::ActLogStatisticsExecute()
{
    const std::vector<int> rows = ShownRows();
    if (rows.empty())
        return m_prompt->Inform(ResStr::NoEvents());
    TfmStatistics dialog(ComputeStatistics(*m_list, rows), m_prefs, StatisticsCaption(), this);
    dialog.exec();
}

} // namespace evtrak
