#pragma once
// The event list as the window shows it: a table view over the list, or over the
// search bar's filter while one is set. The view owns the selection of what it shows;
// when it changes model the selection goes along once (rows a filter hides leave it).
// While the user looks at older rows, arriving events never push them out of view: the
// view follows the newest rows only when it is at the top, and a button over the list
// ("3 nouveaux évenements ↑") brings it back there.

#include "eventlog/uEventFilter.h"

#include <QItemSelectionModel>
#include <QObject>
#include <vector>

class QTableView;
class QToolButton;

namespace evtrak {

class TEventView : public QObject
{
    Q_OBJECT
public:
    // view shows list from now on; both must outlive this object.
    TEventView(QTableView& view, TEventList& list, QObject* parent = nullptr);

    // True while the view shows only the rows a filter lets through.
    bool FilterActive() const { return m_filtered; }
    // Shows the rows filter lets through (every row when the filter asks nothing).
    void SetFilter(const EventFilter& filter);
    // Shows every row again.
    void ClearFilter();
    // The filter last set (also while it is not shown); nullptr before the first one.
    const TEventFilterProxy* proxy() const { return m_proxy; }

    // The list rows shown, top to bottom (every row without a filter).
    std::vector<int> ShownRows() const;
    // The list rows selected in the view, top to bottom.
    std::vector<int> SelectedRows() const;
    // Selects or toggles every row shown.
    void SelectShown(QItemSelectionModel::SelectionFlag how);
    // Makes a list row the current and only selected row and scrolls it to the middle of
    // the view, where it stays while events arrive, also when the view is at the top,
    // until the user goes back to the newest; false when the row is not shown.
    bool SelectRow(int row);
    // The list row of a view index (of whichever model the view shows).
    int ListRow(const QModelIndex& shown) const;

    // Arrived rows the user has not seen (the view is not at the top); 0 at the top.
    int UnseenRows() const { return m_unseen; }
    // The button leading back to the newest rows.
    QToolButton* newestButton() const { return m_newest; }
    // Scrolls to the newest row (the top).
    void ShowNewest();

Q_SIGNALS:
    // Around a change of the view's model (the header's sections are then reset; the
    // widths the user set are put back before modelChanged).
    void modelAboutToChange();
    void modelChanged();
    // Rows shown or rows in the list changed in number.
    void countsChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Show(QAbstractItemModel* model, QItemSelectionModel* selection);
    void Watch(QAbstractItemModel* model);
    void RowsInserted(const QModelIndex& parent, int first, int last);
    void SetUnseen(int rows);
    void PlaceButton();

    QTableView& m_view;
    TEventList& m_list;
    QItemSelectionModel* m_listSelection = nullptr;
    TEventFilterProxy* m_proxy = nullptr;
    QItemSelectionModel* m_proxySelection = nullptr;
    bool m_filtered = false;
    bool m_refiltering = false; // rows a new filter shows are not arrivals
    QToolButton* m_newest = nullptr;
    int m_unseen = 0;
    bool m_pinned = false; // rows in view stay even at the top (after SelectRow)
};

} // namespace evtrak
