#include "ui/widgets/frmStations.h"

#include "base/uUserPrompt.h"
#include "eventlog/uDateTexts.h"
#include "mqtt/uMqttMessages.h"
#include "ui/widgets/uStationEvents.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <set>

namespace evtrak {

namespace {

constexpr int kScanIntervalMs = 2000;

QTableWidgetItem* Cell(const QString& text, const QString& tip = {}, bool number = false)
{
    auto* item = new QTableWidgetItem(text);
    if (number)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (!tip.isEmpty())
        item->setToolTip(tip);
    return item;
}

} // namespace

TfmStations::TfmStations(const TUserPrefs& prefs, const QString& logDir, UserPrompt& prompt,
                         std::function<void(const QString&)> openFile, QWidget* parent)
    : QDialog(parent), m_prefs(prefs), m_logDir(logDir),
      m_stationsDir(logDir + QStringLiteral("stations/")),
      m_ownStation(MqttConfigFromPrefs(prefs, {}, {}).Station), m_prompt(prompt),
      m_openFile(std::move(openFile))
{
    setObjectName(QStringLiteral("fmStations"));
    setWindowTitle(QStringLiteral("Stations"));

    m_lblBroker = new QLabel(this);
    m_lblBroker->setObjectName(QStringLiteral("lblBroker"));
    m_lblBroker->setWordWrap(true);
    m_lblBroker->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_stations = new QTableWidget(0, ColumnCount, this);
    m_stations->setObjectName(QStringLiteral("tblStations"));
    m_stations->setHorizontalHeaderLabels(
        {QStringLiteral("Poste"), QStringLiteral("État"), QStringLiteral("Dernier évenement"),
         QStringLiteral("Date et heure"), QStringLiteral("Aujourd'hui"), QStringLiteral("Comblés"),
         QStringLiteral("Perdus"), QStringLiteral("Interface")});
    m_stations->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_stations->setSelectionMode(QAbstractItemView::SingleSelection);
    m_stations->verticalHeader()->hide();
    m_stations->horizontalHeader()->setHighlightSections(false);
    m_stations->horizontalHeader()->setStretchLastSection(true);
    m_stations->setWordWrap(false);
    auto* lblStations = new QLabel(QStringLiteral("&Postes :"), this);
    lblStations->setBuddy(m_stations);

    m_model = new TStationEventsModel(prefs, m_ownStation, this);
    m_events = new QTableView(this);
    m_events->setObjectName(QStringLiteral("lvStationEvents"));
    m_events->setModel(m_model);
    m_events->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_events->setSelectionMode(QAbstractItemView::SingleSelection);
    m_events->verticalHeader()->hide();
    m_events->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_events->horizontalHeader()->setStretchLastSection(true);
    m_events->setWordWrap(false);
    auto* lblEvents = new QLabel(QStringLiteral("&Derniers évenements de tous les postes :"), this);
    lblEvents->setBuddy(m_events);

    auto* left = new QWidget(this);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(lblStations);
    leftLayout->addWidget(m_stations);
    auto* right = new QWidget(this);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(lblEvents);
    rightLayout->addWidget(m_events);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    split->addWidget(left);
    split->addWidget(right);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    auto* buttons = new QDialogButtonBox(this);
    m_btnOpen = buttons->addButton(QStringLiteral("&Ouvrir le fichier du jour"),
                                   QDialogButtonBox::ActionRole);
    m_btnOpen->setObjectName(QStringLiteral("btnOpen"));
    m_btnOpen->setAutoDefault(false);
    // Reached by its letter: the list keeps the focus, and with it the row to open.
    m_btnOpen->setFocusPolicy(Qt::NoFocus);
    m_btnOpen->setToolTip(QStringLiteral("Ouvre dans la liste principale le fichier du jour du "
                                         "poste choisi (double-clic)"));
    QPushButton* close = buttons->addButton(QStringLiteral("Fermer"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnClose"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_btnOpen, &QPushButton::clicked, this, &TfmStations::OpenSelected);
    connect(m_stations, &QTableWidget::cellDoubleClicked, this, [this](int row) {
        m_stations->selectRow(row);
        m_stations->setFocus();
        OpenSelected();
    });
    connect(m_events, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { OpenDayFile(DayFileOfEventRow(index.row())); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lblBroker);
    layout->addWidget(split, 1);
    layout->addWidget(buttons);

    const TMqttConfig config = MqttConfigFromPrefs(prefs, {}, {});
    if (!config.Host.isEmpty()) {
        m_watch = std::make_unique<TMqttWatch>(config);
        // At most 25 refreshes a second, whatever the rate of the events.
        m_takeTimer = new QTimer(this);
        m_takeTimer->setSingleShot(true);
        m_takeTimer->setInterval(40);
        connect(m_takeTimer, &QTimer::timeout, this, &TfmStations::TakeFromWatch);
        connect(m_watch.get(), &TMqttWatch::changed, this, [this] {
            if (!m_takeTimer->isActive())
                m_takeTimer->start();
        });
        m_watch->Start();
    }
    m_scanTimer = new QTimer(this);
    m_scanTimer->setInterval(kScanIntervalMs);
    connect(m_scanTimer, &QTimer::timeout, this, &TfmStations::ScanArchiveNow);
    m_scanTimer->start();
    ScanArchiveNow();
    UpdateBrokerText();
    UpdateStations();

    // Compact rows, and columns wide enough for their usual texts.
    const QFontMetrics fm(font());
    const int pad = fm.averageCharWidth() * 3;
    for (QTableView* v : {static_cast<QTableView*>(m_stations), m_events}) {
        v->verticalHeader()->setDefaultSectionSize(fm.height() + 6);
        v->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    }
    m_stations->resizeColumnsToContents();
    const std::pair<int, const char*> widths[] = {
        {TStationEventsModel::ColStation, "atelier-00"},
        {TStationEventsModel::ColLabel, "Entrée 12 [OFF]"},
        {TStationEventsModel::ColIndex, "TS"},
        {TStationEventsModel::ColTime, "00/00/0000 00:00:00"}};
    for (const auto& [column, sample] : widths)
        m_events->setColumnWidth(column, fm.horizontalAdvance(QString::fromUtf8(sample)) + pad);
    PlaceOverParent();
    split->setSizes({width() * 3 / 5, width() * 2 / 5});
}

TfmStations::~TfmStations()
{
    m_scanStop = true;
    if (m_scanThread.joinable())
        m_scanThread.join();
}

void TfmStations::PlaceOverParent()
{
    QWidget* over = parentWidget() ? parentWidget()->window() : nullptr;
    QScreen* screen = over ? over->screen() : this->screen();
    const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    // Wide enough for both lists at their usual widths, never beyond the screen.
    const QSize wanted(fontMetrics().averageCharWidth() * 200, fontMetrics().height() * 26);
    const QSize size(std::min(wanted.width(), avail.width() * 9 / 10),
                     std::min(wanted.height(), avail.height() * 9 / 10));
    resize(size);
    QRect r(QPoint(0, 0), size);
    r.moveCenter(over ? over->frameGeometry().center() : avail.center());
    // The window manager's frame is not known before the window is shown: the tenth
    // of the screen left free makes room for it (a title bar, borders).
    const int slackX = avail.width() / 10, slackY = avail.height() / 10;
    r.moveLeft(std::max(avail.left(), std::min(r.left(), avail.right() + 1 - r.width() - slackX)));
    r.moveTop(std::max(avail.top(), std::min(r.top(), avail.bottom() + 1 - r.height() - slackY)));
    move(r.topLeft());
}

QString TfmStations::brokerText() const
{
    return m_lblBroker->text();
}

void TfmStations::UpdateBrokerText()
{
    QString text;
    if (!m_watch) {
        text = QStringLiteral("Aucun serveur MQTT dans les options : seuls les dossiers du "
                              "collecteur de ce poste sont montrés.");
    } else if (m_watch->Connected()) {
        text = QStringLiteral("Serveur MQTT %1 : connecté, mises à jour en direct.")
                   .arg(m_watch->Config().Describe());
    } else if (const QString error = m_watch->ErrorText(); !error.isEmpty()) {
        text = QStringLiteral("Serveur MQTT %1 injoignable (%2) : les états montrés sont les "
                              "derniers connus et ceux des dossiers du collecteur.")
                   .arg(m_watch->Config().Describe(), error);
    } else {
        text = QStringLiteral("Connexion au serveur MQTT %1...").arg(m_watch->Config().Describe());
    }
    if (!m_archiveFolder)
        text += QStringLiteral("\nAucun collecteur sur ce poste (pas de dossier %1) : ni "
                               "historique ni trous comblés ou perdus.")
                    .arg(QDir::toNativeSeparators(m_stationsDir));
    m_lblBroker->setText(text);
}

void TfmStations::TakeFromWatch()
{
    TMqttWatch::Batch batch = m_watch->Take();
    const QDate today = QDate::currentDate();
    for (auto& [name, status] : batch.Statuses)
        m_live[name].Status = status;
    for (const auto& [name, seqs] : batch.Received) {
        StationInfo& info = m_live[name];
        if (info.LiveDay != today) {
            info.SeqsToday.clear();
            info.LiveToday = 0;
            info.LiveDay = today;
        }
        for (const std::uint64_t seq : seqs)
            info.AddSeq(seq);
    }
    for (const TStationEvent& e : batch.Events) {
        StationInfo& info = m_live[e.Station];
        if (!info.LastLive || e.EpochMs >= info.LastLive->EpochMs)
            info.LastLive = e;
    }
    m_model->Add(batch.Events);
    UpdateBrokerText();
    UpdateStations();
}

void TfmStations::StationInfo::AddSeq(std::uint64_t seq)
{
    // The range starting after seq, and the one before it.
    auto next = SeqsToday.upper_bound(seq);
    if (next != SeqsToday.begin()) {
        auto prev = std::prev(next);
        if (seq <= prev->second)
            return; // seen already
        if (prev->second + 1 == seq) {
            prev->second = seq;
            if (next != SeqsToday.end() && next->first == seq + 1) {
                prev->second = next->second;
                SeqsToday.erase(next);
            }
            ++LiveToday;
            return;
        }
    }
    if (next != SeqsToday.end() && next->first == seq + 1) {
        const std::uint64_t last = next->second;
        SeqsToday.erase(next);
        SeqsToday[seq] = last;
    } else {
        SeqsToday[seq] = seq;
    }
    ++LiveToday;
}

void TfmStations::ScanArchiveNow()
{
    m_archiveFolder = QFileInfo(m_stationsDir).isDir();
    if (m_scanning || !m_archiveFolder) {
        if (!m_archiveFolder && !m_archive.empty()) {
            m_archive.clear();
            UpdateStations();
        }
        UpdateBrokerText();
        return;
    }
    m_scanning = true;
    // The last scan has handed its result over: its thread is ending or has ended.
    if (m_scanThread.joinable())
        m_scanThread.join();
    // Counting a day file of millions of lines takes a while the first time: it runs
    // on the scan thread, and the window takes the result when it comes. The window
    // joins the thread before it goes, so the thread may post to it until then.
    m_scanThread = std::thread(
        [this, dir = m_stationsDir, today = QDate::currentDate(), previous = m_archive]() mutable {
            std::vector<TArchiveStation> scanned =
                ScanArchive(dir, today, std::move(previous), &m_scanStop);
            if (m_scanStop.load())
                return;
            QMetaObject::invokeMethod(
                this, [this, s = std::move(scanned)]() mutable { ArchiveScanned(std::move(s)); },
                Qt::QueuedConnection);
        });
}

void TfmStations::ArchiveScanned(std::vector<TArchiveStation> scanned)
{
    m_scanning = false;
    m_archive = std::move(scanned);
    UpdateBrokerText();
    UpdateStations();
}

void TfmStations::UpdateStations()
{
    std::map<QString, const TArchiveStation*> archive;
    for (const TArchiveStation& a : m_archive)
        archive[a.Name] = &a;
    std::set<QString> names;
    for (const auto& [name, info] : m_live)
        names.insert(name);
    for (const auto& [name, a] : archive)
        names.insert(name);

    const int current = m_stations->currentRow();
    const QString currentName = current >= 0 && m_stations->item(current, ColName)
                                    ? m_stations->item(current, ColName)->text()
                                    : QString();
    const bool newRows = m_stations->rowCount() != int(names.size());
    m_stations->setRowCount(int(names.size()));
    int row = 0;
    for (const QString& name : names) {
        const auto live = m_live.find(name);
        const StationInfo* info = live != m_live.end() ? &live->second : nullptr;
        const auto arch = archive.find(name);
        const TArchiveStation* a = arch != archive.end() ? arch->second : nullptr;

        QString state = QStringLiteral("inconnu");
        QColor stateColor;
        if (info && info->Status) {
            state =
                info->Status->Online ? QStringLiteral("en ligne") : QStringLiteral("hors ligne");
            stateColor = info->Status->Online ? QColor(0, 128, 0) : QColor(192, 0, 0);
        }
        // The newest of what came live and what the collector wrote.
        QString lastLabel, lastTime;
        TDateTime lastAt = 0;
        if (info && info->LastLive) {
            lastLabel = StationEventLabel(*info->LastLive);
            lastAt = DateTimeFromQt(QDateTime::fromMSecsSinceEpoch(info->LastLive->EpochMs));
            lastTime = FormatEventDateTime(lastAt);
        }
        if (a && a->Today.Last && a->Today.Last->DateTime > lastAt) {
            lastLabel = a->Today.Last->Label;
            lastTime = FormatEventDateTime(a->Today.Last->DateTime);
        } else if (a && lastTime.isEmpty() && a->State.LastEpochMs > 0) {
            lastTime = StationEventTime(a->State.LastEpochMs);
        }
        QString today, todayTip;
        if (a) {
            today = QString::number(a->Today.Count);
            todayTip = QStringLiteral("Évenements du fichier du jour du collecteur");
        } else if (info && info->LiveDay == QDate::currentDate()) {
            today = QStringLiteral("≥ %1").arg(info->LiveToday);
            todayTip = QStringLiteral("Évenements reçus depuis l'ouverture de la fenêtre (pas de "
                                      "collecteur pour ce poste ici)");
        }
        QString filled, lost, filledTip, lostTip;
        if (a && a->State.Present) {
            filled = QString::number(a->State.Filled);
            lost = QString::number(a->State.LostCount);
            if (!a->State.Gaps.isEmpty())
                filledTip = QStringLiteral("En attente : %1").arg(a->State.Gaps);
            if (!a->State.Lost.isEmpty())
                lostTip = QStringLiteral("Perdus : %1").arg(a->State.Lost);
        }

        m_stations->setItem(row, ColName, Cell(name));
        QTableWidgetItem* stateItem = Cell(state);
        if (stateColor.isValid())
            stateItem->setForeground(stateColor);
        m_stations->setItem(row, ColState, stateItem);
        m_stations->setItem(row, ColInterface,
                            Cell(info && info->Status ? info->Status->Interface : QString(),
                                 info && info->Status && !info->Status->Version.isEmpty()
                                     ? QStringLiteral("Version %1").arg(info->Status->Version)
                                     : QString()));
        m_stations->setItem(row, ColLastEvent, Cell(lastLabel));
        m_stations->setItem(row, ColLastTime, Cell(lastTime));
        m_stations->setItem(row, ColToday, Cell(today, todayTip, true));
        m_stations->setItem(row, ColFilled, Cell(filled, filledTip, true));
        m_stations->setItem(row, ColLost, Cell(lost, lostTip, true));
        if (name == currentName)
            m_stations->setCurrentCell(row, ColName);
        ++row;
    }
    if (newRows)
        m_stations->resizeColumnsToContents();
}

QString TfmStations::DayFileFor(const QString& station, const QDate& day) const
{
    // A name from the network never leads out of the collector's folder.
    if (!IsSafeStationFolder(station))
        return {};
    QString file = StationDayFile(m_stationsDir, station, day);
    // This station's own day file when no collector keeps one for it.
    if (station == m_ownStation && !QFileInfo::exists(file))
        file = m_logDir + day.toString(QStringLiteral("yyyy_MM_dd")) + QStringLiteral(".txt");
    return file;
}

QString TfmStations::DayFileOfEventRow(int row) const
{
    if (row < 0 || row >= m_model->rowCount())
        return {};
    const TStationEvent& e = m_model->event(row);
    return DayFileFor(e.Station, QDateTime::fromMSecsSinceEpoch(e.EpochMs).date());
}

void TfmStations::OpenSelected()
{
    if (m_events->hasFocus() && m_events->currentIndex().isValid())
        return OpenDayFile(DayFileOfEventRow(m_events->currentIndex().row()));
    const int row = m_stations->currentRow();
    if (row >= 0 && m_stations->item(row, ColName))
        return OpenDayFile(
            DayFileFor(m_stations->item(row, ColName)->text(), QDate::currentDate()));
    m_prompt.Inform(QStringLiteral("Choisissez d'abord un poste ou un évenement."));
}

void TfmStations::OpenDayFile(const QString& file)
{
    if (file.isEmpty())
        return;
    if (!QFileInfo(file).isFile()) {
        m_prompt.Inform(QStringLiteral("Le fichier \"%1\" n'existe pas sur ce poste (aucun "
                                       "collecteur n'y a écrit ce jour-là).")
                            .arg(QDir::toNativeSeparators(file)));
        return;
    }
    m_openFile(file);
}

} // namespace evtrak
