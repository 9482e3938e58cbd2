#pragma once
// The settings record: every setting of the program, one live instance.

#include <QString>
#include <array>
#include <cstdint>

namespace evtrak {

inline constexpr int kInputCount = 13; // inputs "Entrée 0" .. "Entrée 12"
inline constexpr int kColumnCount = 4; // event-list columns

// A colour: 0x00BBGGRR for a plain colour, or 0x80000000 + a system colour index.
using TColor = std::int32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWindow = static_cast<TColor>(0x80000005u);     // window background
inline constexpr TColor clWindowText = static_cast<TColor>(0x80000008u); // window text
inline constexpr TColor clBtnFace = static_cast<TColor>(0x8000000Fu);    // button face

// Interface selections (PortBaseAddressIndex).
enum PortSelectionValue : int
{
    psCOM1 = 0,
    psCOM2 = 1,
    psCOM3 = 2,
    psCOM4 = 3,
    psLPT1 = 4,
    psLPT2 = 5,
    psJOY1 = 6
};

// The settings of one input.
struct TInputPrefs
{
    bool Active = false;
    bool Invert = false;
    std::int32_t MinDuration = 2;
    QString Label;
    TColor TextColor = clBlack;
    TColor BGColor = clWindow;
    std::int32_t Debounce = 0; // ms, 0: none
    friend bool operator==(const TInputPrefs&, const TInputPrefs&) = default;
};

// Field order follows the record's declared order. A default-constructed record holds
// zero, false or empty everywhere (inputs: TInputPrefs{}), as before the settings file
// is first read; DefaultUserPrefs() gives the documented defaults.
struct TUserPrefs
{
    std::int32_t LogDurationFormat = 0;
    bool LogShowGridLines = false;
    bool LogUseColors = false;
    bool LogPrintColors = false;
    std::array<TInputPrefs, kInputCount> Inputs{}; // keys LogEvent<i>Active, ...
    bool LogSaveAutoOnExit = false;
    bool LogSaveAutoOnNewDay = false;
    bool LogSaveAutoOnNewEvent = false;
    bool LogSaveMakeBackup = false;
    std::int32_t CaptureThreadPriority = 0;
    bool CaptureRunAtAppStartup = false;
    bool CaptureSaveEdge = false;
    bool CaptureSaveDuration = false;
    std::int32_t CaptureStallThreshold = 0; // ms, 0: no stall detection
    std::int32_t CaptureSamplingPeriod = 0; // µs, 0: passes back to back
    bool CaptureShowLiveLines = false;
    std::int32_t PortBaseAddressIndex = 0;
    std::int32_t ReportSorting = 0;
    bool ReportStatistics = false; // the statistics per input at the end of the report
    QString ReportMainTitle;
    QString ReportSubTitle;
    bool MiscRunAppAtWindowsStartup = false;
    QString AppMainTitle;
    std::array<QString, kColumnCount> GridColumnCaption{};
    bool MiscMenuAsXPStyle = false;
    bool MiscShowErrorMessages = false;
    QString ConfLastUsedFile;
    // Publishing to an MQTT broker (section [Mqtt]). Port 0: 1883, or 8883 with TLS;
    // an empty station: the host name.
    bool MqttEnabled = false;
    QString MqttHost;
    std::int32_t MqttPort = 0;
    QString MqttTopicPrefix;
    QString MqttStation;
    QString MqttUsername;
    QString MqttPassword;
    QString MqttCaFile;
    QString MqttCertFile;
    QString MqttKeyFile;
    std::int32_t MqttKeepAlive = 0;
    // Days the station keeps the acknowledged events for a collector's replay.
    std::int32_t MqttReplayDays = 0;
    // The collector (section [Collect]): its client id (empty: "evtrak-collect-<host>")
    // and the stations it takes (names or patterns with * and ?, separated by commas or
    // blanks; empty: all).
    QString CollectClientId;
    QString CollectStations;

    friend bool operator==(const TUserPrefs&, const TUserPrefs&) = default;
};

// Every field at its documented default (report titles empty).
TUserPrefs DefaultUserPrefs();

// The settings of input i; for i outside 0..12: not active, not inverted, 2 ms, empty
// label, black text on the window background, no debounce. Never fails.
TInputPrefs GetInputPrefs(const TUserPrefs& prefs, int i);

// Stores the settings of input i; an index outside 0..12 changes nothing.
void SetInputPrefs(TUserPrefs& prefs, int i, const TInputPrefs& values);

// The widths of the event-list columns, as the list view keeps them.
class ColumnWidthStore
{
public:
    virtual ~ColumnWidthStore() = default;
    virtual int ColumnCount() const = 0;
    virtual int ColumnWidth(int i) const = 0;
    virtual void SetColumnWidth(int i, int w) = 0;
};

// Reads every key of fileName into prefs, in the key table's order. A missing file,
// section or key, or an unreadable value, gives the key's default; the two report titles
// keep the value they hold. Labels are made fit for event files (SanitizedLabel). Column
// widths of 0 or more are applied to columns as they are read, negative ones leave the
// column (columns may be null). Returns false, with prefs unchanged and the French
// reason in reason (when given), only when the file exists but cannot be read (or is
// not a regular file, or is too large); the caller runs ApplyUserPrefs after a
// successful read.
bool ReadUserPrefs(TUserPrefs& prefs, const QString& fileName, ColumnWidthStore* columns,
                   QString* reason = nullptr);

// Writes every key (sections "UserPrefs" and "GUIControlsSizeAndPos", in the key table's
// order) into fileName, keeping every other section and line. All keys are written in one
// atomic replacement of the file. Returns an empty string on success, else the message
// "Impossible d'écrire dans <fileName>"; the previous file is then left as it was.
QString WriteUserPrefs(const TUserPrefs& prefs, const QString& fileName,
                       const ColumnWidthStore* columns);

} // namespace evtrak
