// How the main window follows the live settings, and the list's column widths that
// are stored with them.
#include "ui/widgets/frmMain.h"

#include "acquisition/uCaptureControl.h"
#include "acquisition/uPortSelection.h"
#include "app/ktAutostart.h"
#include "app/uSession.h"
#include "eventlog/uLog.h"
#include "eventlog/uSavingPolicy.h"
#include "mqtt/uMqttStation.h"
#include "ui/widgets/ktXpMenuStyle.h"
#include "ui/widgets/uEventListDelegate.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QLoggingCategory>
#include <QTableView>

Q_LOGGING_CATEGORY(lcPrefs, "evtrak.ui.prefs")

namespace evtrak {

// The list's columns as the settings file sees them: a hidden column has width 0, and
// a width of 0 hides a column.
class TfmMain::ColumnWidths : public ColumnWidthStore
{
public:
    ColumnWidths(QHeaderView* header, int* labelWidth, std::function<void()> fit)
        : m_header(header), m_labelWidth(labelWidth), m_fit(std::move(fit))
    {}
    int ColumnCount() const override { return m_header->count(); }
    // The label column is stored at the user's width, not at the width it takes to
    // fill the window.
    int ColumnWidth(int i) const override
    {
        if (m_header->isSectionHidden(i))
            return 0;
        return i == TEventList::ColLabel ? *m_labelWidth : m_header->sectionSize(i);
    }
    void SetColumnWidth(int i, int w) override
    {
        if (i < 0 || i >= m_header->count() || w < 0)
            return;
        m_header->setSectionHidden(i, w == 0);
        if (w > 0)
            m_header->resizeSection(i, w);
        if (i == TEventList::ColLabel && w > 0)
            *m_labelWidth = w;
        m_fit();
    }

private:
    QHeaderView* m_header;
    int* m_labelWidth;
    std::function<void()> m_fit;
};

std::unique_ptr<ColumnWidthStore> TfmMain::MakeColumnWidths(QHeaderView* header, int* labelWidth,
                                                            std::function<void()> fit)
{
    return std::make_unique<ColumnWidths>(header, labelWidth, std::move(fit));
}

void TfmMain::ApplyUserPrefs()
{
    // Durations follow the format. A modification made before (events captured and not
    // saved yet) survives, so that closing still offers to save them.
    const bool wasModified = m_list->Modified();
    m_list->ReformatDurations(true);
    m_list->SetModified(wasModified);
    // Before a capture started with the program records anything: its events go to the
    // outbox.
    m_session->ConfigureMqtt();

    m_lvEventsList->setShowGrid(m_prefs.LogShowGridLines);
    Q_EMIT m_list->headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
    m_policy->SetCurrentEventFile(m_policy->CurrentEventFile());
    m_delegate->setOwnerDraw(m_prefs.LogUseColors);
    m_lvEventsList->viewport()->update();
    ApplyXpMenuStyle(this, m_popupMenu, m_prefs.MiscMenuAsXPStyle);
    ApplyQualityPrefs();

    const QString exe = QCoreApplication::applicationFilePath();
    if (!SetRunOnStartup(QFileInfo(exe).fileName(), exe, m_prefs.MiscRunAppAtWindowsStartup, false))
        qCWarning(lcPrefs) << "the log-on start entry could not be written or removed";
}

} // namespace evtrak
