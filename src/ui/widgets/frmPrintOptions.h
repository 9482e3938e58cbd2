#pragma once
// The print-options dialog: created hidden at start-up, its place kept with the other
// windows. The report always covers every row, so no command shows it.

#include <QDialog>

class QRadioButton;

namespace evtrak {

class TfmPrintOptions : public QDialog
{
    Q_OBJECT
public:
    explicit TfmPrintOptions(QWidget* parent = nullptr);

    QRadioButton* rbPrintSelection() const { return m_selection; }
    QRadioButton* rbPrintAll() const { return m_all; }

private:
    QRadioButton* m_selection;
    QRadioButton* m_all;
};

} // namespace evtrak
