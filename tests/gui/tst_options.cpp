// The options dialog driven offscreen through its named controls.
#include "base/uResStr.h"
#include "eventlog/uLog.h"
#include "ui/widgets/frmOptions.h"
#include "ui/widgets/ktColorPicker.h"
#include "ui/widgets/ktShell.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace evtrak;

namespace {

// One opening of the dialog over a live record, as the "Options..." command does it.
struct Session
{
    TUserPrefs live = DefaultUserPrefs();
    int applied = 0;
    QStringList informed;
    std::unique_ptr<TfmOptions> dialog;

    void open()
    {
        dialog = std::make_unique<TfmOptions>(
            live, [this] { ++applied; }, nullptr,
            [this](const QString& text) { informed << text; });
        dialog->LoadFromSettings();
    }
    template <typename W> W* get(const char* name) const
    {
        W* w = dialog->findChild<W*>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    QCheckBox* box(const char* name) const { return get<QCheckBox>(name); }
    void click(const char* button) const { get<QPushButton>(button)->click(); }
    // A user's choice in a drop-down list.
    void choose(const char* list, int index) const
    {
        QComboBox* c = get<QComboBox>(list);
        c->setCurrentIndex(index);
        Q_EMIT c->activated(index);
    }
    QRadioButton* radio(const char* group, int index) const
    {
        return get<QRadioButton>(
            qPrintable(QStringLiteral("%1_%2").arg(QLatin1String(group)).arg(index)));
    }
};

} // namespace

class TestOptions : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void interfaceRuleOnChoice_data();
    void interfaceRuleOnChoice();
    void interfaceRuleOnOpen_data();
    void interfaceRuleOnOpen();
    void savingRules();
    void savingRulesOnOpen();
    void workingCopyPerInput();
    void inputControlsEnabling_data();
    void inputControlsEnabling();
    void okAppliesEverything();
    void outOfRangeChoicesKept();
    void labelRefusesSeparators();
    void minimumDurationField();
    void colorPicker();
    void versionHistoryLink();
    void execOptionsDialog();
    void networkPage();
    void inputNamesAndPortChoices();
};

void TestOptions::interfaceRuleOnChoice_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<bool>("refused");
    QTest::newRow("COM 2") << int(psCOM2) << true;
    QTest::newRow("JOY 1") << int(psJOY1) << true;
    QTest::newRow("LPT 2") << int(psLPT2) << false;
}

void TestOptions::interfaceRuleOnChoice()
{
    QFETCH(int, choice);
    QFETCH(bool, refused);
    Session s;
    s.open();
    QVERIFY(s.informed.isEmpty());
    s.choose("cbPortsBaseAddressList", choice);
    QCOMPARE(s.informed, refused ? QStringList{ResStr::OnlyParallelPorts()} : QStringList{});
    QCOMPARE(s.get<QComboBox>("cbPortsBaseAddressList")->currentIndex(),
             refused ? int(psLPT1) : choice);
    s.click("btnOK");
    QCOMPARE(s.live.PortBaseAddressIndex, refused ? int(psLPT1) : choice);
}

void TestOptions::interfaceRuleOnOpen_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<bool>("useColors");
    QTest::addColumn<int>("shown");
    QTest::newRow("COM 1") << 0 << false << 0;
    QTest::newRow("COM 1, colours on") << 0 << true << 0;
    QTest::newRow("9 from a hand-edited file") << 9 << false << -1;
    QTest::newRow("-1") << -1 << true << -1;
}

void TestOptions::interfaceRuleOnOpen()
{
    QFETCH(int, stored);
    QFETCH(bool, useColors);
    QFETCH(int, shown);
    Session s;
    s.live.PortBaseAddressIndex = stored;
    s.live.LogUseColors = useColors;
    s.open();
    // Refused once as the dialog opens, then the list shows what is stored.
    QCOMPARE(s.informed, QStringList{ResStr::OnlyParallelPorts()});
    QCOMPARE(s.get<QComboBox>("cbPortsBaseAddressList")->currentIndex(), shown);
    s.click("btnOK");
    QCOMPARE(s.live.PortBaseAddressIndex, stored);
    QCOMPARE(s.applied, 1);
}

void TestOptions::savingRules()
{
    Session s;
    s.open();
    QCheckBox* newDay = s.box("rbLogSaveAutoOnNewDay");
    QCheckBox* newEvent = s.box("rbLogSaveAutoOnNewEvent");
    QTest::mouseClick(newEvent, Qt::LeftButton);
    QVERIFY(newEvent->isChecked());
    QVERIFY(newDay->isChecked()); // each event appended needs the daily files
    QTest::mouseClick(newEvent, Qt::LeftButton);
    QVERIFY(!newEvent->isChecked());
    QVERIFY(newDay->isChecked()); // unticking the dependant leaves the other
    QTest::mouseClick(newEvent, Qt::LeftButton);
    QTest::mouseClick(newDay, Qt::LeftButton);
    QVERIFY(!newDay->isChecked());
    QVERIFY(!newEvent->isChecked());
}

void TestOptions::savingRulesOnOpen()
{
    Session s;
    s.live.LogSaveAutoOnNewEvent = true;
    s.live.LogSaveAutoOnNewDay = false;
    s.open();
    QVERIFY(s.box("rbLogSaveAutoOnNewDay")->isChecked());
    QVERIFY(s.box("rbLogSaveAutoOnNewEvent")->isChecked());
    s.click("btnOK");
    QVERIFY(s.live.LogSaveAutoOnNewDay);
    QVERIFY(s.live.LogSaveAutoOnNewEvent);
}

void TestOptions::workingCopyPerInput()
{
    Session s;
    s.live.LogUseColors = true;
    s.open();
    auto* inputs = s.get<QComboBox>("cbInputList");
    auto* label = s.get<QLineEdit>("edEventLabel");
    auto* minDuration = s.get<QSpinBox>("edInputMinDuration");
    auto* textColor = s.get<TColorPicker>("ccLogEventTextColor");

    inputs->setCurrentIndex(3);
    label->setText(QStringLiteral("Porte"));
    minDuration->setValue(1000);
    textColor->setColor(0x0000FF);
    s.get<QSpinBox>("edInputDebounce")->setValue(15);
    inputs->setCurrentIndex(5);
    QCOMPARE(s.get<QSpinBox>("edInputDebounce")->value(), 0);
    QCOMPARE(label->text(), QStringLiteral("Libellé_5")); // input 5 untouched by the switch
    QCOMPARE(s.dialog->InputsWorkCopy().Inputs[5].Label, QStringLiteral("Libellé_5"));
    s.box("cbInputActive")->setChecked(false);
    inputs->setCurrentIndex(3);
    QCOMPARE(label->text(), QStringLiteral("Porte"));
    QCOMPARE(minDuration->value(), 1000);
    QCOMPARE(textColor->color(), TColor(0x0000FF));
    QVERIFY(s.box("cbInputActive")->isChecked());

    // Nothing reaches the live record before "Appliquer".
    QCOMPARE(s.live.Inputs[3].Label, QStringLiteral("Libellé_3"));
    s.click("btnApply");
    QCOMPARE(s.applied, 1);
    QCOMPARE(s.live.Inputs[3].Label, QStringLiteral("Porte"));
    QCOMPARE(s.live.Inputs[3].MinDuration, 1000);
    QCOMPARE(s.live.Inputs[3].TextColor, TColor(0x0000FF));
    QCOMPARE(s.live.Inputs[3].Debounce, 15);
    QCOMPARE(s.live.Inputs[5].Debounce, 0);
    QVERIFY(!s.live.Inputs[5].Active);

    // Later edits are dropped by "Annuler"; the applied ones stay.
    label->setText(QStringLiteral("Fenêtre"));
    s.click("btnCancel");
    QCOMPARE(s.dialog->result(), int(QDialog::Rejected));
    QCOMPARE(s.live.Inputs[3].Label, QStringLiteral("Porte"));
    QCOMPARE(s.applied, 1);

    // A new opening starts from the live record again.
    s.open();
    inputs = s.get<QComboBox>("cbInputList");
    inputs->setCurrentIndex(3);
    QCOMPARE(s.get<QLineEdit>("edEventLabel")->text(), QStringLiteral("Porte"));
}

void TestOptions::inputControlsEnabling_data()
{
    QTest::addColumn<bool>("useColors");
    QTest::addColumn<bool>("active");
    QTest::newRow("colours, active") << true << true;
    QTest::newRow("colours, inactive") << true << false;
    QTest::newRow("no colours, active") << false << true;
    QTest::newRow("no colours, inactive") << false << false;
}

void TestOptions::inputControlsEnabling()
{
    QFETCH(bool, useColors);
    QFETCH(bool, active);
    Session s;
    s.live.Inputs[0].TextColor = 0x0000FF;
    s.live.Inputs[0].BGColor = 0x00FFFF;
    s.open();
    s.get<QTabWidget>("PageControl1")->setCurrentIndex(1); // "Entrées"
    s.dialog->show();
    s.box("cbLogUseColors")->setChecked(useColors);
    s.box("cbInputActive")->setChecked(active);

    QCOMPARE(s.box("cbInputInvert")->isEnabled(), active);
    QCOMPARE(s.get<QSpinBox>("edInputMinDuration")->isEnabled(), active);
    QCOMPARE(s.get<QLineEdit>("edEventLabel")->isEnabled(), active);
    QCOMPARE(s.get<TColorPicker>("ccLogEventTextColor")->isEnabled(), useColors && active);
    QCOMPARE(s.get<TColorPicker>("ccLogEventBGColor")->isEnabled(), useColors && active);
    auto* preview = s.get<QLabel>("lblEventPreview");
    QCOMPARE(preview->isVisible(), active);
    QVERIFY(s.get<QLabel>("lblNoPreview")->isVisible());
    QCOMPARE(s.get<QLabel>("lblNoPreview")->text(), QStringLiteral("<aucun apperçu>"));
    QCOMPARE(preview->text(), QStringLiteral("Libellé_0"));
    const QPalette& pal = preview->palette();
    const QPalette& window = s.dialog->palette();
    QCOMPARE(pal.color(QPalette::WindowText),
             useColors ? QColor(Qt::red) : window.color(QPalette::Text));
    QCOMPARE(pal.color(QPalette::Window),
             useColors ? QColor(Qt::yellow) : window.color(QPalette::Base));
    // The preview follows the label as it is typed.
    if (active) {
        s.get<QLineEdit>("edEventLabel")->setText(QStringLiteral("Capteur"));
        QCOMPARE(preview->text(), QStringLiteral("Capteur"));
    }
}

void TestOptions::okAppliesEverything()
{
    Session s;
    // The window's part of applying, as the main window does it: durations re-rendered
    // and the list counted as saved.
    TEventList list(s.live);
    list.AddEvent(EventRecord{QStringLiteral("A"), 0, 46000.5, 1500}, false, false, true);
    list.SetModified(true);
    QCOMPARE(list.text(0, TEventList::ColDuration), QStringLiteral("1.500 s"));
    s.dialog = std::make_unique<TfmOptions>(s.live, [&] {
        ++s.applied;
        list.ReformatDurations(true);
        list.SetModified(false);
    });
    s.dialog->LoadFromSettings();

    s.get<QLineEdit>("edAppMainTitle")->setText(QStringLiteral("Banc d'essai"));
    s.radio("rgLogDurationFormat", 0)->click();
    s.box("cbLogShowGridLines")->click();
    s.box("cbLogUseColors")->click();
    s.box("cbLogPrintColors")->click();
    s.get<TColorPicker>("ccLogEventBGColor")->setColor(0x00FFFF);
    s.box("rbLogSaveAutoOnExit")->click();
    s.box("rbLogSaveMakeBackup")->click();
    s.get<QComboBox>("cbCaptureThreadPriority")->setCurrentIndex(6);
    s.box("cbCaptureRunAtAppStartup")->click();
    s.box("cbCaptureSaveEdge")->click();
    s.box("cbCaptureSaveDuration")->click();
    s.choose("cbPortsBaseAddressList", psLPT2);
    // Each order caption names what its value prints: 1 puts the newest event last.
    QVERIFY(s.radio("rgReportSorting", 0)->text().remove(u'&').contains(u"plus récent en premier"));
    QVERIFY(s.radio("rgReportSorting", 1)->text().remove(u'&').contains(u"plus récent en dernier"));
    s.radio("rgReportSorting", 1)->click();
    s.box("cbReportStatistics")->click();
    s.get<QLineEdit>("edReportMainTitle")->setText(QStringLiteral("Rapport"));
    s.get<QLineEdit>("edReportSubTitle")->setText(QStringLiteral("Ligne 4"));
    // It starts Evtrak when the user's session opens: nothing of Windows.
    QCOMPARE(s.box("cbMiscRunAppAtWindowsStartup")->text().remove(u'&'),
             QStringLiteral("Démarrer le logiciel au lancement de la session"));
    s.box("cbMiscRunAppAtWindowsStartup")->click();
    s.box("cbMiscMenuAsXPStyle")->click();
    s.box("cbMiscShowErrorMessages")->click();
    s.click("btnOK");

    QCOMPARE(s.dialog->result(), int(QDialog::Accepted));
    QCOMPARE(s.applied, 1);
    TUserPrefs expected = DefaultUserPrefs();
    expected.AppMainTitle = QStringLiteral("Banc d'essai");
    expected.LogDurationFormat = 0;
    expected.LogShowGridLines = true;
    expected.LogUseColors = true;
    expected.LogPrintColors = true;
    expected.Inputs[0].BGColor = 0x00FFFF;
    expected.LogSaveAutoOnExit = true;
    expected.LogSaveMakeBackup = true;
    expected.CaptureThreadPriority = 6;
    expected.CaptureRunAtAppStartup = true;
    expected.CaptureSaveEdge = false;
    expected.CaptureSaveDuration = true;
    expected.PortBaseAddressIndex = psLPT2;
    expected.ReportSorting = 1;
    expected.ReportStatistics = true;
    expected.ReportMainTitle = QStringLiteral("Rapport");
    expected.ReportSubTitle = QStringLiteral("Ligne 4");
    expected.MiscRunAppAtWindowsStartup = true;
    expected.MiscMenuAsXPStyle = false;
    expected.MiscShowErrorMessages = false;
    QVERIFY(s.live == expected);
    QCOMPARE(list.text(0, TEventList::ColDuration), QStringLiteral("1500 ms"));
    QVERIFY(!list.Modified());

    // OK without any change still applies, and changes nothing.
    s.open();
    s.click("btnOK");
    QCOMPARE(s.applied, 2);
    QVERIFY(s.live == expected);
}

void TestOptions::outOfRangeChoicesKept()
{
    // Values only a hand-edited settings file holds: shown as no choice, kept by OK.
    Session s;
    s.live.LogDurationFormat = 7;
    s.live.ReportSorting = 2;
    s.live.CaptureThreadPriority = 12;
    s.live.Inputs[0].MinDuration = 25000;
    s.live.CaptureSamplingPeriod = 300;
    s.live.CaptureStallThreshold = 50000;
    s.open();
    QCOMPARE(s.get<QComboBox>("cbCaptureSamplingPeriod")->currentIndex(), -1);
    QCOMPARE(s.get<QGroupBox>("rgLogDurationFormat")->findChildren<QRadioButton*>().size(), 3);
    for (int i = 0; i < 3; ++i)
        QVERIFY(!s.radio("rgLogDurationFormat", i)->isChecked());
    s.click("btnOK");
    QCOMPARE(s.live.LogDurationFormat, 7);
    QCOMPARE(s.live.ReportSorting, 2);
    QCOMPARE(s.live.CaptureThreadPriority, 12);
    QCOMPARE(s.live.Inputs[0].MinDuration, 25000); // the input was shown, not edited
    QCOMPARE(s.live.CaptureSamplingPeriod, 300);
    QCOMPARE(s.live.CaptureStallThreshold, 50000);
    s.open();
    s.choose("cbCaptureSamplingPeriod", 4);
    s.get<QSpinBox>("edCaptureStallThreshold")->setValue(35);
    s.click("btnOK");
    QCOMPARE(s.live.CaptureSamplingPeriod, 1000); // "1 ms"
    QCOMPARE(s.live.CaptureStallThreshold, 35);
}

// The input list names each input with its label, following edits; the ports that
// cannot capture are offered greyed, with the reason.
void TestOptions::inputNamesAndPortChoices()
{
    Session s;
    s.live.Inputs[3].Label = QStringLiteral("Porte");
    s.open();
    auto* inputs = s.get<QComboBox>("cbInputList");
    QCOMPARE(inputs->itemText(3), QStringLiteral("Entrée 3 – Porte"));
    inputs->setCurrentIndex(4);
    s.get<QLineEdit>("edEventLabel")->setText(QStringLiteral("Presse %1"));
    QCOMPARE(inputs->itemText(4), QStringLiteral("Entrée 4 – Presse %1"));
    QCOMPARE(inputs->itemText(3), QStringLiteral("Entrée 3 – Porte"));

    const QAbstractItemModel* ports = s.get<QComboBox>("cbPortsBaseAddressList")->model();
    for (int i = 0; i < ports->rowCount(); ++i) {
        const QModelIndex item = ports->index(i, 0);
        const bool parallel = i == psLPT1 || i == psLPT2;
        QCOMPARE(bool(ports->flags(item) & Qt::ItemIsEnabled), parallel);
        QCOMPARE(item.data(Qt::ToolTipRole).toString().isEmpty(), parallel);
    }
}

void TestOptions::labelRefusesSeparators()
{
    Session s;
    s.open();
    auto* label = s.get<QLineEdit>("edEventLabel");
    label->clear();
    QTest::keyClicks(label, QStringLiteral("Porte;A"));
    QCOMPARE(label->text(), QStringLiteral("PorteA"));
    label->insert(QStringLiteral(" nord\r\n;sud"));
    QCOMPARE(label->text(), QStringLiteral("PorteA nordsud"));
    QCOMPARE(s.dialog->InputsWorkCopy().Inputs[0].Label, QStringLiteral("PorteA nordsud"));
}

void TestOptions::minimumDurationField()
{
    Session s;
    s.open();
    auto* field = s.get<QSpinBox>("edInputMinDuration");
    QCOMPARE(field->minimum(), 0);
    QCOMPARE(field->maximum(), 10000);
    QCOMPARE(field->value(), 2);
    field->stepUp();
    QCOMPARE(field->value(), 502);
    QCOMPARE(s.dialog->InputsWorkCopy().Inputs[0].MinDuration, 502);
}

void TestOptions::colorPicker()
{
    TColorPicker picker;
    QStringList names;
    for (int i = 0; i < picker.count(); ++i)
        names << picker.itemText(i);
    QCOMPARE(names.size(), 20);
    QCOMPARE(names.first(), QStringLiteral("Noir"));
    QCOMPARE(names.mid(16),
             (QStringList{"Fond de fenêtre", "Texte de fenêtre", "Face de bouton", "Autre..."}));

    QList<TColor> changes;
    connect(&picker, &TColorPicker::colorChanged, this, [&](TColor c) { changes << c; });
    const auto pick = [&](const QString& name) {
        const int i = picker.findText(name);
        picker.setCurrentIndex(i);
        Q_EMIT picker.activated(i);
    };
    pick(QStringLiteral("Rouge"));
    QCOMPARE(picker.color(), TColor(0x0000FF));
    pick(QStringLiteral("Face de bouton"));
    QCOMPARE(picker.color(), clBtnFace);

    // "Autre...": the free colour in 0x00BBGGRR; a cancelled dialog keeps the colour.
    QColor next(0x12, 0x34, 0x56);
    picker.setChooser([&](const QColor&, QWidget*) { return next; });
    pick(QStringLiteral("Autre..."));
    QCOMPARE(picker.color(), TColor(0x563412));
    QCOMPARE(picker.currentText(), QStringLiteral("Personnalisée (#123456)"));
    next = QColor();
    pick(QStringLiteral("Autre..."));
    QCOMPARE(picker.color(), TColor(0x563412));
    QCOMPARE(picker.currentText(), QStringLiteral("Personnalisée (#123456)"));
    QCOMPARE(changes, (QList<TColor>{0x0000FF, clBtnFace, 0x563412}));

    // A stored colour that has no entry gets one and is kept as it is.
    picker.setColor(0x010203);
    QCOMPARE(picker.color(), TColor(0x010203));
    picker.setColor(clWindow);
    QCOMPARE(picker.currentText(), QStringLiteral("Fond de fenêtre"));
}

void TestOptions::versionHistoryLink()
{
    QStringList opened;
    SetShellOpenHook([&](const QString& p) { opened << p; });
    const auto restore = qScopeGuard([] { SetShellOpenHook({}); });
    Session s;
    s.open();
    Q_EMIT s.get<QLabel>("lnkVersionHistory")->linkActivated(QStringLiteral("history"));
    QCOMPARE(opened.size(), 1);
    QVERIFY(opened.first().endsWith(QStringLiteral("/a_lire.txt"), Qt::CaseInsensitive));
    QVERIFY(opened.first().startsWith(QCoreApplication::applicationDirPath()));
    // Nothing to show it with: the dialog says which file, where.
    QStringList told;
    Session t;
    t.dialog = std::make_unique<TfmOptions>(
        t.live, [] {}, nullptr, [&](const QString& text) { told << text; });
    t.dialog->SetLinkTarget(QStringLiteral("/nulle/part/A_Lire.txt"));
    SetShellOpenResultHook([](const QString&) { return false; });
    Q_EMIT t.get<QLabel>("lnkVersionHistory")->linkActivated(QStringLiteral("history"));
    QCOMPARE(told.size(), 1);
    QVERIFY(told[0].contains(QStringLiteral("A_Lire.txt")) && told[0].contains(u"/nulle/part"));
}

void TestOptions::execOptionsDialog()
{
    TUserPrefs live = DefaultUserPrefs();
    live.Inputs[0].Label = QStringLiteral("Entrée zéro");
    int applied = 0;
    QString shownLabel;
    QTimer::singleShot(0, this, [&] {
        auto* dialog = qobject_cast<TfmOptions*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        shownLabel = dialog->findChild<QLineEdit*>(QStringLiteral("edEventLabel"))->text();
        dialog->findChild<QLineEdit*>(QStringLiteral("edAppMainTitle"))
            ->setText(QStringLiteral("T"));
        dialog->findChild<QPushButton*>(QStringLiteral("btnOK"))->click();
    });
    const int result = ExecOptionsDialog(nullptr, live, [&] { ++applied; });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(shownLabel, QStringLiteral("Entrée zéro"));
    QCOMPARE(applied, 1);
    QCOMPARE(live.AppMainTitle, QStringLiteral("T"));
}

// The broker settings go back as edited; a keep-alive the field cannot show stays, the
// password is never shown in clear; a password without a user name is refused, in French,
// and nothing is applied until a user name is given.
void TestOptions::networkPage()
{
    Session s;
    s.live.MqttEnabled = true;
    s.live.MqttHost = QStringLiteral("old");
    s.live.MqttPassword = QStringLiteral("s3cret");
    s.live.MqttKeepAlive = 99999;
    s.open();
    auto* password = s.get<QLineEdit>("edMqttPassword");
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    QVERIFY(s.get<QLineEdit>("edMqttHost")->isEnabledTo(s.dialog.get()));
    s.get<QLineEdit>("edMqttHost")->setText(QStringLiteral(" broker.usine "));
    s.get<QSpinBox>("edMqttPort")->setValue(8884);
    s.click("btnOK");
    QCOMPARE(s.applied, 0);
    QCOMPARE(s.live.MqttHost, QStringLiteral("old"));
    QCOMPARE(s.informed.size(), 1);
    QVERIFY(s.informed.constFirst().contains(QStringLiteral("nom d'utilisateur")));
    s.click("btnApply");
    QCOMPARE(s.applied, 0);
    s.get<QLineEdit>("edMqttUsername")->setText(QStringLiteral("poste3"));
    s.click("btnOK");
    QCOMPARE(s.applied, 1);
    QCOMPARE(s.live.MqttUsername, QStringLiteral("poste3"));
    QCOMPARE(s.live.MqttHost, QStringLiteral("broker.usine"));
    QCOMPARE(s.live.MqttPort, 8884);
    QCOMPARE(s.live.MqttPassword, QStringLiteral("s3cret"));
    QCOMPARE(s.live.MqttKeepAlive, 99999);
    QVERIFY(s.live.MqttEnabled);

    Session off;
    off.open();
    QVERIFY(!off.box("cbMqttEnabled")->isChecked());
    QVERIFY(!off.get<QLineEdit>("edMqttHost")->isEnabledTo(off.dialog.get()));
}

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
