#include "ui/widgets/frmStatistics.h"

#include "ui/widgets/uFormsGeometry.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace evtrak {

TfmStatistics::TfmStatistics(const std::vector<InputStatistics>& stats, const TUserPrefs& prefs,
                             const QString& caption, QWidget* parent)
    : QDialog(parent), m_text(StatisticsText(stats, prefs))
{
    setObjectName(QStringLiteral("fmStatistics"));
    setWindowTitle(QStringLiteral("Statistiques par entrée"));
    auto* what = new QLabel(caption, this);
    what->setObjectName(QStringLiteral("lblStatisticsRows"));
    what->setWordWrap(true);

    const QStringList headings = StatisticsHeadings();
    m_table = new QTableWidget(int(stats.size()), int(headings.size()), this);
    m_table->setObjectName(QStringLiteral("tblStatistics"));
    m_table->setHorizontalHeaderLabels(headings);
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (int r = 0; r < int(stats.size()); ++r) {
        const QStringList cells = StatisticsCells(stats[std::size_t(r)], prefs);
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c != 1)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(r, c, item);
        }
    }
    m_table->resizeColumnsToContents();
    m_table->horizontalHeader()->setStretchLastSection(true);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* copy = buttons->addButton(QStringLiteral("&Copier"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("btnCopy"));
    QPushButton* close =
        buttons->addButton(QStringLiteral("&Fermer"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnClose"));
    close->setDefault(true);
    connect(copy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(m_text); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(what);
    layout->addWidget(m_table, 1);
    layout->addWidget(buttons);
    resize(m_table->horizontalHeader()->length() + 60, 320);
    FitOnScreen(this); // the table scrolls on a small screen
}

} // namespace evtrak
