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
#include "ui/widgets/uEventView.h"
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
    return m_view->FilterActive();
}

std::vector<int> TfmMain::ShownRows() const
{
    return m_view->ShownRows();
}

std::vector<int> TfmMain::SelectedRows() const
{
    return m_view->SelectedRows();
}

std::unique_ptr<ReportRows> TfmMain::ShownReportRows() const
{
    if (!FilterActive())
        return nullptr;
    auto rows = std::make_unique<ReportRows>();
    rows->Rows = ShownRows();
    rows->Description = m_view->proxy()->filter().Description();
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
        if (!m_filterConnected) {
            m_filterConnected = true;
            connect(m_filterBar, &TFilterBar::filterChanged, this, &TfmMain::ApplyFilter);
            connect(m_filterBar, &TFilterBar::closeRequested, this, &TfmMain::CloseFilter);
            // The count follows rows recorded, deleted or loaded while the bar is open.
            connect(m_view, &TEventView::countsChanged, this, &TfmMain::UpdateFilterCount);
        }
        m_filterBar->show();
        ApplyFilter();
    }
    m_filterBar->focusText();
}

void TfmMain::SetFilter(const EventFilter& filter)
{
    if (!m_filterBar->isVisible())
        ActLogFindExecute();
    m_view->SetFilter(filter);
    UpdateFilterCount();
}

void TfmMain::ApplyFilter()
{
    if (!m_filterBar->isVisible())
        return;
    m_view->SetFilter(m_filterBar->filter());
    UpdateFilterCount();
}

void TfmMain::CloseFilter()
{
    m_view->ClearFilter();
    m_filterBar->hide();
    UpdateFilterCount();
    m_lvEventsList->setFocus();
}

void TfmMain::UpdateFilterCount()
{
    const bool filtered = FilterActive();
    m_filterPanel->setVisible(filtered);
    if (filtered)
        m_filterPanel->setText(QStringLiteral("%1 / %2 affichés")
                                   .arg(m_view->proxy()->rowCount())
                                   .arg(m_list->rowCount()));
}

// ---- Go to a date and time ----

bool TfmMain::GoToDateTime(const QDateTime& when)
{
    const int row =
        NearestEventRow(*m_list, ShownRows(), SecondsFromDateTime(DateTimeFromQt(when)));
    return row >= 0 && m_view->SelectRow(row);
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
        row = m_view->ListRow(current);
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
            .arg(m_view->proxy()->filter().Description())
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
