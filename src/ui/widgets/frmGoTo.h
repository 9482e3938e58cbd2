#pragma once
// "Aller à la date..." (Ctrl+G): asks for a date and time; the window then selects the
// event nearest to it.

#include <QDateTime>
#include <QDialog>

class QDateTimeEdit;

namespace evtrak {

class TfmGoTo : public QDialog
{
    Q_OBJECT
public:
    TfmGoTo(const QDateTime& proposed, QWidget* parent = nullptr);
    QDateTime dateTime() const;

private:
    QDateTimeEdit* m_when = nullptr;
};

} // namespace evtrak
