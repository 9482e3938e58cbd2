#pragma once
// The acquisition journal: a small list of what happened to the sampling itself
// (starts, stops with their figures, stalls), newest last. It never holds events.

#include <QDialog>

class QListWidget;

namespace evtrak {

class TfmCaptureJournal : public QDialog
{
    Q_OBJECT
public:
    explicit TfmCaptureJournal(QWidget* parent = nullptr);

    // Adds "dd/mm/yyyy hh:nn:ss  text" for the given wall-clock time (ms since the epoch).
    void AddLine(std::int64_t wallMs, const QString& text);
    QStringList Lines() const;

private:
    QListWidget* m_list = nullptr;
};

} // namespace evtrak
