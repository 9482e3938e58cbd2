#pragma once
// The search bar above the event list (Ctrl+F): a label text, input numbers, a
// date-time range and ON/OFF. Every change is handed out as an EventFilter; Escape or
// the close button closes the bar.

#include "eventlog/uEventFilter.h"

#include <QWidget>

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QTimer;

namespace evtrak {

class TFilterBar : public QWidget
{
    Q_OBJECT
public:
    explicit TFilterBar(QWidget* parent = nullptr);
    EventFilter filter() const;
    // Puts the focus in the text and selects it.
    void focusText();
    // Starts the date range at a day (the list's newest event) when it is not set yet.
    void proposeDates(const QDateTime& from, const QDateTime& to);
    // True while the dates sit on a row of their own (a narrow window).
    bool IsWrapped() const;
    QSize minimumSizeHint() const override;
    // False when the input list cannot be read (the field is then framed in red, with
    // a tooltip saying what it takes).
    bool inputsValid() const;

Q_SIGNALS:
    void filterChanged();
    void closeRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void MarkInputs();

    QLineEdit* m_text = nullptr;
    QLineEdit* m_inputs = nullptr;
    QCheckBox* m_useFrom = nullptr;
    QDateTimeEdit* m_from = nullptr;
    QCheckBox* m_useTo = nullptr;
    QDateTimeEdit* m_to = nullptr;
    QComboBox* m_state = nullptr;
    QTimer* m_delay = nullptr;
    QBoxLayout* m_rows = nullptr;
    QWidget* m_what = nullptr; // text, inputs, state, close
    QWidget* m_when = nullptr; // the date range
};

} // namespace evtrak
