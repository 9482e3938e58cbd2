#pragma once
// The options dialog: every setting on seven pages, edited on copies and handed back to
// the live settings record on "Appliquer" or OK.

#include "settings/uUserPrefs.h"

#include <QDialog>
#include <functional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace evtrak {

class TColorPicker;

class TfmOptions : public QDialog
{
    Q_OBJECT
public:
    // Shows a French information box with one OK button.
    using InformHook = std::function<void(const QString& text)>;

    // live is the program's settings record: read when the dialog opens, written by
    // "Appliquer" and OK. onApplied runs after every write (the window follows the
    // settings and refreshes its status bar). inform shows the interface refusal
    // (default: a message box); it may already run while the dialog is being created.
    TfmOptions(TUserPrefs& live, std::function<void()> onApplied, QWidget* parent = nullptr,
               InformHook inform = {});
    ~TfmOptions() override;

    // The opening sequence of the "Options..." command: SettingsToControls, "Entrée 0"
    // selected, ShowSelectedInput.
    void LoadFromSettings();

    void SettingsToControls();
    void ControlsToSettings();
    void ShowSelectedInput();
    void StoreSelectedInput();
    void RefreshInputPreview();

    // The per-input values being edited (not yet applied).
    const TUserPrefs& InputsWorkCopy() const { return m_inputsWorkCopy; }

    // The version history the link "Historique des versions" opens.
    QString LinkTarget() const { return m_linkTarget; }
    void SetLinkTarget(const QString& path) { m_linkTarget = path; }

private:
    void FormCreate();
    void buildPages();
    void buildAcquisitionPage();
    void buildInputsPage();
    void buildFormattingPage();
    void buildReportPage();
    void buildSavingPage();
    void buildMiscPage();
    void buildNetworkPage();
    void attachInputHandlers(bool attached);
    // The input list shows each input's label after its number.
    void RefreshInputNames();
    // false (after saying why, in French) when the edited values cannot be applied.
    bool CheckControls();
    // A "..." button beside a file field that opens a file chooser.
    QWidget* WithBrowseButton(QLineEdit* field, const char* name, const QString& what);

    // Handlers.
    void btnOKClick();
    void btnApplyClick();
    void cbInputListChange();
    void cbInputActiveClick();
    void cbPortsBaseAddressListChange();
    void PageControl1Change(int index);
    void rbLogSaveAutoOnNewDayClick(bool checked);
    void rbLogSaveAutoOnNewEventClick(bool checked);
    void lnkVersionHistoryClick();

    TUserPrefs& m_live;
    std::function<void()> m_onApplied;
    InformHook m_inform;
    TUserPrefs m_inputsWorkCopy;
    QString m_linkTarget;
    bool m_inputHandlersAttached = false;
    // Values of lists and radio groups that showed no entry when the dialog opened (a
    // value out of range in a hand-edited settings file): kept unless the user chooses.
    std::int32_t m_storedPort = psLPT1;
    std::int32_t m_storedPriority = 0;
    std::int32_t m_storedDurationFormat = 0;
    std::int32_t m_storedSorting = 0;
    std::int32_t m_storedSamplingPeriod = 0;
    std::int32_t m_storedStallThreshold = 0;

    QTabWidget* PageControl1 = nullptr; // the pages; their list at the left chooses
    QListWidget* lstPages = nullptr;
    // Acquisition
    QCheckBox* cbMiscRunAppAtWindowsStartup = nullptr;
    QCheckBox* cbCaptureRunAtAppStartup = nullptr;
    QComboBox* cbPortsBaseAddressList = nullptr;
    QComboBox* cbCaptureThreadPriority = nullptr;
    QComboBox* cbCaptureSamplingPeriod = nullptr;
    QSpinBox* edCaptureStallThreshold = nullptr;
    QCheckBox* cbCaptureSaveEdge = nullptr;
    QCheckBox* cbCaptureSaveDuration = nullptr;
    // Entrées
    QComboBox* cbInputList = nullptr;
    QCheckBox* cbInputActive = nullptr;
    QCheckBox* cbInputInvert = nullptr;
    QSpinBox* edInputMinDuration = nullptr;
    QSpinBox* edInputDebounce = nullptr;
    QLineEdit* edEventLabel = nullptr;
    TColorPicker* ccLogEventTextColor = nullptr;
    TColorPicker* ccLogEventBGColor = nullptr;
    QLabel* lblEventPreview = nullptr;
    QLabel* lblNoPreview = nullptr;
    QCheckBox* cbLogUseColors = nullptr;
    // Formatage
    QGroupBox* rgLogDurationFormat = nullptr;
    QButtonGroup* rgLogDurationFormatButtons = nullptr;
    // Rapport
    QLineEdit* edReportMainTitle = nullptr;
    QLineEdit* edReportSubTitle = nullptr;
    QGroupBox* rgReportSorting = nullptr;
    QButtonGroup* rgReportSortingButtons = nullptr;
    QCheckBox* cbLogPrintColors = nullptr;
    QCheckBox* cbReportStatistics = nullptr;
    // Sauvegarde
    QCheckBox* rbLogSaveAutoOnExit = nullptr;
    QCheckBox* rbLogSaveAutoOnNewDay = nullptr;
    QCheckBox* rbLogSaveAutoOnNewEvent = nullptr;
    QCheckBox* rbLogSaveMakeBackup = nullptr;
    // Divers
    QLineEdit* edAppMainTitle = nullptr;
    QCheckBox* cbMiscMenuAsXPStyle = nullptr;
    QCheckBox* cbLogShowGridLines = nullptr;
    QCheckBox* cbMiscShowErrorMessages = nullptr;
    QLabel* lnkVersionHistory = nullptr;
    // Réseau
    QCheckBox* cbMqttEnabled = nullptr;
    QLineEdit* edMqttHost = nullptr;
    QSpinBox* edMqttPort = nullptr;
    QSpinBox* edMqttKeepAlive = nullptr;
    QLineEdit* edMqttTopicPrefix = nullptr;
    QLineEdit* edMqttStation = nullptr;
    QLineEdit* edMqttUsername = nullptr;
    QLineEdit* edMqttPassword = nullptr;
    QLineEdit* edMqttCaFile = nullptr;
    QLineEdit* edMqttCertFile = nullptr;
    QLineEdit* edMqttKeyFile = nullptr;
    // Buttons
    QPushButton* btnApply = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
};

// The "Options..." command: creates the dialog, fills it from live, shows "Entrée 0",
// runs it modally and destroys it. readmeFile, when given, is the version history the
// dialog's link opens. Returns QDialog::Accepted or QDialog::Rejected.
int ExecOptionsDialog(QWidget* parent, TUserPrefs& live, std::function<void()> onApplied,
                      const QString& readmeFile = {});

} // namespace evtrak
