#include "ui/widgets/frmOptions.h"

#include "base/uResStr.h"
#include "ui/widgets/ktColorPicker.h"
#include "ui/widgets/ktColors.h"
#include "ui/widgets/ktShell.h"
#include "ui/widgets/uFormsGeometry.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <algorithm>

namespace evtrak {

namespace {

constexpr int kInputsPage = 1;
constexpr int kNetworkPage = 6;
constexpr int kMaxStallThreshold = 10000; // ms, the field's range

QString PasswordWithoutUserText()
{
    return QStringLiteral("Un mot de passe MQTT ne sert qu'avec un nom d'utilisateur : "
                          "saisissez l'utilisateur ou effacez le mot de passe.");
}

// The version history beside the program; the shipped file's name may differ in case.
QString DefaultLinkTarget()
{
    const QDir dir(QCoreApplication::applicationDirPath());
    const QString wanted = QStringLiteral("a_lire.txt");
    const QStringList files = dir.entryList(QDir::Files);
    for (const QString& name : files) {
        if (name.compare(wanted, Qt::CaseInsensitive) == 0)
            return dir.filePath(name);
    }
    return dir.filePath(wanted);
}

// Radio group item index: -1 (nothing shown) when value has no button.
void SetItemIndex(QButtonGroup* group, int value)
{
    if (QAbstractButton* b = group->button(value)) {
        b->setChecked(true);
        return;
    }
    group->setExclusive(false);
    const QList<QAbstractButton*> buttons = group->buttons();
    for (QAbstractButton* b : buttons)
        b->setChecked(false);
    group->setExclusive(true);
}

// A list or radio group that shows no entry keeps the value it was given.
std::int32_t ItemIndexOr(int index, std::int32_t stored)
{
    return index >= 0 ? index : stored;
}

void SetListIndex(QComboBox* list, int value)
{
    list->setCurrentIndex(value >= 0 && value < list->count() ? value : -1);
}

} // namespace

TfmOptions::TfmOptions(TUserPrefs& live, std::function<void()> onApplied, QWidget* parent,
                       InformHook inform)
    : QDialog(parent), m_live(live), m_onApplied(std::move(onApplied)), m_inform(std::move(inform))
{
    if (!m_inform) {
        m_inform = [this](const QString& text) {
            QMessageBox::information(this, windowTitle(), text);
        };
    }
    buildPages();
    FormCreate();
}

TfmOptions::~TfmOptions() = default;

void TfmOptions::FormCreate()
{
    PageControl1->setCurrentIndex(0);
    cbCaptureThreadPriority->setCurrentIndex(2); // replaced at once by SettingsToControls
    m_linkTarget = DefaultLinkTarget();
    SetListIndex(cbPortsBaseAddressList, m_live.PortBaseAddressIndex);
    cbPortsBaseAddressListChange();
    FitOnScreen(this);
}

void TfmOptions::LoadFromSettings()
{
    SettingsToControls();
    cbInputList->setCurrentIndex(0);
    ShowSelectedInput();
}

void TfmOptions::SettingsToControls()
{
    const TUserPrefs& p = m_live;
    edAppMainTitle->setText(p.AppMainTitle);
    m_storedDurationFormat = p.LogDurationFormat;
    SetItemIndex(rgLogDurationFormatButtons, p.LogDurationFormat);
    cbLogShowGridLines->setChecked(p.LogShowGridLines);
    cbLogUseColors->setChecked(p.LogUseColors); // a change runs the interface rule
    cbLogPrintColors->setChecked(p.LogPrintColors);
    cbReportStatistics->setChecked(p.ReportStatistics);
    m_inputsWorkCopy.Inputs = p.Inputs;
    rbLogSaveAutoOnExit->setChecked(p.LogSaveAutoOnExit);
    rbLogSaveAutoOnNewDay->setChecked(p.LogSaveAutoOnNewDay); // saving rules run here
    rbLogSaveAutoOnNewEvent->setChecked(p.LogSaveAutoOnNewEvent);
    rbLogSaveMakeBackup->setChecked(p.LogSaveMakeBackup);
    m_storedPriority = p.CaptureThreadPriority;
    SetListIndex(cbCaptureThreadPriority, p.CaptureThreadPriority);
    cbCaptureRunAtAppStartup->setChecked(p.CaptureRunAtAppStartup);
    // A period that is not one of the choices (edited by hand) shows no entry and stays.
    m_storedSamplingPeriod = p.CaptureSamplingPeriod;
    cbCaptureSamplingPeriod->setCurrentIndex(
        cbCaptureSamplingPeriod->findData(p.CaptureSamplingPeriod));
    m_storedStallThreshold = p.CaptureStallThreshold;
    edCaptureStallThreshold->setValue(std::clamp(p.CaptureStallThreshold, 0, kMaxStallThreshold));
    cbCaptureSaveEdge->setChecked(p.CaptureSaveEdge);
    cbCaptureSaveDuration->setChecked(p.CaptureSaveDuration);
    // Setting the selection runs no handler: the list shows the stored interface.
    m_storedPort = p.PortBaseAddressIndex;
    SetListIndex(cbPortsBaseAddressList, p.PortBaseAddressIndex);
    m_storedSorting = p.ReportSorting;
    SetItemIndex(rgReportSortingButtons, p.ReportSorting);
    edReportMainTitle->setText(p.ReportMainTitle);
    edReportSubTitle->setText(p.ReportSubTitle);
    cbMiscRunAppAtWindowsStartup->setChecked(p.MiscRunAppAtWindowsStartup);
    cbMiscMenuAsXPStyle->setChecked(p.MiscMenuAsXPStyle);
    cbMiscShowErrorMessages->setChecked(p.MiscShowErrorMessages);
    cbMqttEnabled->setChecked(!p.MqttEnabled); // the groups follow the toggle
    cbMqttEnabled->setChecked(p.MqttEnabled);
    edMqttHost->setText(p.MqttHost);
    edMqttPort->setValue(p.MqttPort);
    edMqttKeepAlive->setValue(p.MqttKeepAlive);
    edMqttTopicPrefix->setText(p.MqttTopicPrefix);
    edMqttStation->setText(p.MqttStation);
    edMqttUsername->setText(p.MqttUsername);
    edMqttPassword->setText(p.MqttPassword);
    edMqttCaFile->setText(p.MqttCaFile);
    edMqttCertFile->setText(p.MqttCertFile);
    edMqttKeyFile->setText(p.MqttKeyFile);
    RefreshInputNames();
    RefreshInputPreview();
}

void TfmOptions::ControlsToSettings()
{
    TUserPrefs& p = m_live;
    p.AppMainTitle = edAppMainTitle->text();
    p.LogDurationFormat =
        ItemIndexOr(rgLogDurationFormatButtons->checkedId(), m_storedDurationFormat);
    p.LogShowGridLines = cbLogShowGridLines->isChecked();
    p.LogUseColors = cbLogUseColors->isChecked();
    p.LogPrintColors = cbLogPrintColors->isChecked();
    p.ReportStatistics = cbReportStatistics->isChecked();
    p.Inputs = m_inputsWorkCopy.Inputs;
    p.LogSaveAutoOnExit = rbLogSaveAutoOnExit->isChecked();
    p.LogSaveAutoOnNewDay = rbLogSaveAutoOnNewDay->isChecked();
    p.LogSaveAutoOnNewEvent = rbLogSaveAutoOnNewEvent->isChecked();
    p.LogSaveMakeBackup = rbLogSaveMakeBackup->isChecked();
    p.CaptureThreadPriority =
        ItemIndexOr(cbCaptureThreadPriority->currentIndex(), m_storedPriority);
    p.CaptureRunAtAppStartup = cbCaptureRunAtAppStartup->isChecked();
    p.CaptureSamplingPeriod = cbCaptureSamplingPeriod->currentIndex() >= 0
                                  ? cbCaptureSamplingPeriod->currentData().toInt()
                                  : m_storedSamplingPeriod;
    // A value the field cannot show (edited by hand) stays until the user changes it.
    if (edCaptureStallThreshold->value() !=
        std::clamp(m_storedStallThreshold, 0, kMaxStallThreshold))
        p.CaptureStallThreshold = edCaptureStallThreshold->value();
    else
        p.CaptureStallThreshold = m_storedStallThreshold;
    p.CaptureSaveEdge = cbCaptureSaveEdge->isChecked();
    p.CaptureSaveDuration = cbCaptureSaveDuration->isChecked();
    p.PortBaseAddressIndex = ItemIndexOr(cbPortsBaseAddressList->currentIndex(), m_storedPort);
    p.ReportSorting = ItemIndexOr(rgReportSortingButtons->checkedId(), m_storedSorting);
    p.ReportMainTitle = edReportMainTitle->text();
    p.ReportSubTitle = edReportSubTitle->text();
    p.MiscRunAppAtWindowsStartup = cbMiscRunAppAtWindowsStartup->isChecked();
    p.MiscMenuAsXPStyle = cbMiscMenuAsXPStyle->isChecked();
    p.MiscShowErrorMessages = cbMiscShowErrorMessages->isChecked();
    p.MqttEnabled = cbMqttEnabled->isChecked();
    p.MqttHost = edMqttHost->text().trimmed();
    p.MqttPort = edMqttPort->value();
    // A value the spin box cannot show (out of its range) stays as it was.
    if (edMqttKeepAlive->value() != std::clamp(m_live.MqttKeepAlive, 5, 3600))
        p.MqttKeepAlive = edMqttKeepAlive->value();
    p.MqttTopicPrefix = edMqttTopicPrefix->text().trimmed();
    p.MqttStation = edMqttStation->text().trimmed();
    p.MqttUsername = edMqttUsername->text();
    p.MqttPassword = edMqttPassword->text();
    p.MqttCaFile = edMqttCaFile->text().trimmed();
    p.MqttCertFile = edMqttCertFile->text().trimmed();
    p.MqttKeyFile = edMqttKeyFile->text().trimmed();
    if (m_onApplied)
        m_onApplied();
}

void TfmOptions::ShowSelectedInput()
{
    attachInputHandlers(false); // loading the controls stores nothing
    const TInputPrefs v = GetInputPrefs(m_inputsWorkCopy, cbInputList->currentIndex());
    cbInputActive->setChecked(v.Active);
    cbInputInvert->setChecked(v.Invert);
    edInputMinDuration->setValue(v.MinDuration);
    edInputDebounce->setValue(v.Debounce);
    edEventLabel->setText(v.Label);
    ccLogEventTextColor->setColor(v.TextColor);
    ccLogEventBGColor->setColor(v.BGColor);
    RefreshInputPreview();
    attachInputHandlers(true);
}

void TfmOptions::StoreSelectedInput()
{
    SetInputPrefs(m_inputsWorkCopy, cbInputList->currentIndex(),
                  TInputPrefs{cbInputActive->isChecked(), cbInputInvert->isChecked(),
                              edInputMinDuration->value(), edEventLabel->text(),
                              ccLogEventTextColor->color(), ccLogEventBGColor->color(),
                              edInputDebounce->value()});
}

void TfmOptions::RefreshInputPreview()
{
    const bool active = cbInputActive->isChecked();
    const bool colors = cbLogUseColors->isChecked();
    cbInputInvert->setEnabled(active);
    edInputMinDuration->setEnabled(active);
    edInputDebounce->setEnabled(active);
    edEventLabel->setEnabled(active);
    lblEventPreview->setText(edEventLabel->text());
    lblEventPreview->setVisible(active);
    ccLogEventTextColor->setEnabled(colors && active);
    ccLogEventBGColor->setEnabled(colors && active);
    const TColor text = colors ? ccLogEventTextColor->color() : clWindowText;
    const TColor back = colors ? ccLogEventBGColor->color() : clWindow;
    QPalette pal = lblEventPreview->palette();
    pal.setColor(QPalette::WindowText, ToQColor(text, palette()));
    pal.setColor(QPalette::Window, ToQColor(back, palette()));
    lblEventPreview->setPalette(pal);
}

void TfmOptions::RefreshInputNames()
{
    for (int i = 0; i < cbInputList->count() && i < kInputCount; ++i) {
        const QString label = m_inputsWorkCopy.Inputs[std::size_t(i)].Label;
        cbInputList->setItemText(
            i, label.isEmpty() ? QStringLiteral("Entrée %1").arg(i)
                               : QStringLiteral("Entrée %1 – %2").arg(QString::number(i), label));
    }
}

bool TfmOptions::CheckControls()
{
    if (!edMqttPassword->text().isEmpty() && edMqttUsername->text().isEmpty()) {
        PageControl1->setCurrentIndex(kNetworkPage);
        m_inform(PasswordWithoutUserText());
        edMqttUsername->setFocus();
        return false;
    }
    return true;
}

void TfmOptions::attachInputHandlers(bool attached)
{
    m_inputHandlersAttached = attached;
}

void TfmOptions::btnOKClick()
{
    if (!CheckControls())
        return;
    ControlsToSettings();
    accept();
}

void TfmOptions::btnApplyClick()
{
    if (CheckControls())
        ControlsToSettings();
}

void TfmOptions::cbInputListChange()
{
    if (m_inputHandlersAttached)
        ShowSelectedInput();
}

void TfmOptions::cbInputActiveClick()
{
    if (!m_inputHandlersAttached)
        return;
    StoreSelectedInput();
    RefreshInputNames();
    RefreshInputPreview();
}

void TfmOptions::cbPortsBaseAddressListChange()
{
    const int index = cbPortsBaseAddressList->currentIndex();
    if (index != psLPT1 && index != psLPT2) {
        m_inform(ResStr::OnlyParallelPorts());
        cbPortsBaseAddressList->setCurrentIndex(psLPT1);
    }
    RefreshInputPreview();
}

void TfmOptions::PageControl1Change(int index)
{
    if (index == kInputsPage)
        cbInputList->setFocus();
}

void TfmOptions::rbLogSaveAutoOnNewDayClick(bool checked)
{
    if (!checked && rbLogSaveAutoOnNewEvent->isChecked())
        rbLogSaveAutoOnNewEvent->setChecked(false);
}

void TfmOptions::rbLogSaveAutoOnNewEventClick(bool checked)
{
    if (checked && !rbLogSaveAutoOnNewDay->isChecked())
        rbLogSaveAutoOnNewDay->setChecked(true);
}

void TfmOptions::lnkVersionHistoryClick()
{
    if (!ShellOpen(m_linkTarget))
        m_inform(ShellOpenFailedText(m_linkTarget));
}

int ExecOptionsDialog(QWidget* parent, TUserPrefs& live, std::function<void()> onApplied,
                      const QString& readmeFile)
{
    TfmOptions dialog(live, std::move(onApplied), parent);
    if (!readmeFile.isEmpty())
        dialog.SetLinkTarget(readmeFile);
    dialog.LoadFromSettings();
    return dialog.exec();
}

} // namespace evtrak
