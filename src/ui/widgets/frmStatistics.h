#pragma once
// "Statistiques..." : per input, the activations, the total and longest active time,
// the first and last event of the rows shown; the table can be copied as text.

#include "eventlog/uEventStatistics.h"

#include <QDialog>

class QTableWidget;

namespace evtrak {

class TfmStatistics : public QDialog
{
    Q_OBJECT
public:
    // caption says which rows were counted (all, or the filter's description).
    TfmStatistics(const std::vector<InputStatistics>& stats, const TUserPrefs& prefs,
                  const QString& caption, QWidget* parent = nullptr);
    // The table as tab-separated text (what "Copier" puts on the clipboard).
    QString text() const { return m_text; }

private:
    QString m_text;
    QTableWidget* m_table = nullptr;
};

} // namespace evtrak
