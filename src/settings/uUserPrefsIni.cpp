// The settings record in INI files: one key table drives reading, writing, defaults and
// the order of the keys.

#include "base/uLabelText.h"
#include "base/uResStr.h"
#include "settings/ktIniFile.h"
#include "settings/uUserPrefs.h"

#include <variant>

namespace evtrak {

namespace {

const QString kUserPrefs = QStringLiteral("UserPrefs");
const QString kControls = QStringLiteral("GUIControlsSizeAndPos");
const QString kMqtt = QStringLiteral("Mqtt");
const QString kCollect = QStringLiteral("Collect");

// Booleans, integers and colours (colours are 32-bit integers too), and strings.
using FieldRef = std::variant<bool*, std::int32_t*, QString*>;
using FieldFn = FieldRef (*)(TUserPrefs&, int);

template <auto M> FieldRef Field(TUserPrefs& p, int)
{
    return &(p.*M);
}
template <auto M> FieldRef Item(TUserPrefs& p, int i)
{
    return &(p.*M)[static_cast<std::size_t>(i)];
}
template <auto M> FieldRef Input(TUserPrefs& p, int i)
{
    return &(p.Inputs[static_cast<std::size_t>(i)].*M);
}

enum class Count
{
    One,
    Inputs,
    Captions,
    Columns
};

struct KeyDef
{
    const char16_t* name; // "%1" stands for the index in per-index keys
    Count count;
    FieldFn field; // null for the column widths, which live in the list view
    bool keepWhenMissing = false;
    const QString* section = &kUserPrefs;
};

using P = TUserPrefs;
const KeyDef kKeys[] = {
    {u"AppMainTitle", Count::One, Field<&P::AppMainTitle>},
    {u"ConfLastUsedFile", Count::One, Field<&P::ConfLastUsedFile>},
    {u"GridColumnCaption%1", Count::Captions, Item<&P::GridColumnCaption>},
    {u"LogDurationFormat", Count::One, Field<&P::LogDurationFormat>},
    {u"LogShowGridLines", Count::One, Field<&P::LogShowGridLines>},
    {u"LogUseColors", Count::One, Field<&P::LogUseColors>},
    {u"LogPrintColors", Count::One, Field<&P::LogPrintColors>},
    {u"EventsList_Column%1_Width", Count::Columns, nullptr},
    {u"LogEvent%1Active", Count::Inputs, Input<&TInputPrefs::Active>},
    {u"LogEvent%1Invert", Count::Inputs, Input<&TInputPrefs::Invert>},
    {u"LogEvent%1MinDuration", Count::Inputs, Input<&TInputPrefs::MinDuration>},
    {u"LogEvent%1Label", Count::Inputs, Input<&TInputPrefs::Label>},
    {u"LogEvent%1TextColor", Count::Inputs, Input<&TInputPrefs::TextColor>},
    {u"LogEvent%1BGColor", Count::Inputs, Input<&TInputPrefs::BGColor>},
    {u"LogEvent%1Debounce", Count::Inputs, Input<&TInputPrefs::Debounce>},
    {u"LogSaveAutoOnExit", Count::One, Field<&P::LogSaveAutoOnExit>},
    {u"LogSaveAutoOnNewDay", Count::One, Field<&P::LogSaveAutoOnNewDay>},
    {u"LogSaveAutoOnNewEvent", Count::One, Field<&P::LogSaveAutoOnNewEvent>},
    {u"LogSaveMakeBackup", Count::One, Field<&P::LogSaveMakeBackup>},
    {u"CaptureThreadPriority", Count::One, Field<&P::CaptureThreadPriority>},
    {u"CaptureRunAtAppStartup", Count::One, Field<&P::CaptureRunAtAppStartup>},
    {u"CaptureSaveEdge", Count::One, Field<&P::CaptureSaveEdge>},
    {u"CaptureSaveDuration", Count::One, Field<&P::CaptureSaveDuration>},
    {u"CaptureStallThreshold", Count::One, Field<&P::CaptureStallThreshold>},
    {u"CaptureSamplingPeriod", Count::One, Field<&P::CaptureSamplingPeriod>},
    {u"CaptureShowLiveLines", Count::One, Field<&P::CaptureShowLiveLines>},
    {u"PortBaseAddressIndex", Count::One, Field<&P::PortBaseAddressIndex>},
    {u"ReportSorting", Count::One, Field<&P::ReportSorting>},
    {u"ReportStatistics", Count::One, Field<&P::ReportStatistics>},
    // The report titles have no default of their own: a file without them keeps the
    // titles in use.
    {u"ReportMainTitle", Count::One, Field<&P::ReportMainTitle>, true},
    {u"ReportSubTitle", Count::One, Field<&P::ReportSubTitle>, true},
    {u"MiscRunAppAtWindowsStartup", Count::One, Field<&P::MiscRunAppAtWindowsStartup>},
    {u"MiscMenuAsXPStyle", Count::One, Field<&P::MiscMenuAsXPStyle>},
    {u"MiscShowErrorMessages", Count::One, Field<&P::MiscShowErrorMessages>},
    {u"Enabled", Count::One, Field<&P::MqttEnabled>, false, &kMqtt},
    {u"Host", Count::One, Field<&P::MqttHost>, false, &kMqtt},
    {u"Port", Count::One, Field<&P::MqttPort>, false, &kMqtt},
    {u"TopicPrefix", Count::One, Field<&P::MqttTopicPrefix>, false, &kMqtt},
    {u"Station", Count::One, Field<&P::MqttStation>, false, &kMqtt},
    {u"Username", Count::One, Field<&P::MqttUsername>, false, &kMqtt},
    {u"Password", Count::One, Field<&P::MqttPassword>, false, &kMqtt},
    {u"CaFile", Count::One, Field<&P::MqttCaFile>, false, &kMqtt},
    {u"CertFile", Count::One, Field<&P::MqttCertFile>, false, &kMqtt},
    {u"KeyFile", Count::One, Field<&P::MqttKeyFile>, false, &kMqtt},
    {u"KeepAlive", Count::One, Field<&P::MqttKeepAlive>, false, &kMqtt},
    {u"ReplayDays", Count::One, Field<&P::MqttReplayDays>, false, &kMqtt},
    {u"ClientId", Count::One, Field<&P::CollectClientId>, false, &kCollect},
    {u"Stations", Count::One, Field<&P::CollectStations>, false, &kCollect},
};

int IndexCount(const KeyDef& k, const ColumnWidthStore* columns)
{
    switch (k.count) {
    case Count::One:
        return 1;
    case Count::Inputs:
        return kInputCount;
    case Count::Captions:
        return kColumnCount;
    case Count::Columns:
        return columns ? columns->ColumnCount() : 0;
    }
    return 0;
}

QString KeyName(const KeyDef& k, int i)
{
    const QString pattern = QString::fromUtf16(k.name);
    return k.count == Count::One ? pattern : pattern.arg(i);
}

} // namespace

bool ReadUserPrefs(TUserPrefs& prefs, const QString& fileName, ColumnWidthStore* columns,
                   QString* reason)
{
    const TIniFile ini(fileName);
    if (ini.ReadFailed()) {
        if (reason)
            *reason = ini.ErrorString();
        return false;
    }
    TUserPrefs defaults = DefaultUserPrefs();
    // A file written before the broker settings existed (an older configuration file)
    // leaves them as they are: loading it must not switch publishing off.
    const bool keepMqtt = ini.Loaded() && !ini.SectionExists(kMqtt);
    for (const KeyDef& k : kKeys) {
        if (keepMqtt && k.section == &kMqtt)
            continue;
        for (int i = 0, n = IndexCount(k, columns); i < n; ++i) {
            const QString key = KeyName(k, i);
            if (!k.field) {
                const int w = ini.ReadInteger(kControls, key, -1);
                if (w >= 0)
                    columns->SetColumnWidth(i, w);
                continue;
            }
            const FieldRef dst = k.field(prefs, i);
            const FieldRef def = k.field(k.keepWhenMissing ? prefs : defaults, i);
            if (auto* b = std::get_if<bool*>(&dst))
                **b = ini.ReadBool(*k.section, key, *std::get<bool*>(def));
            else if (auto* v = std::get_if<std::int32_t*>(&dst))
                **v = ini.ReadInteger(*k.section, key, *std::get<std::int32_t*>(def));
            else if (auto* s = std::get_if<QString*>(&dst))
                **s = ini.ReadString(*k.section, key, *std::get<QString*>(def));
        }
    }
    // A label is written into event-file lines: it may not hold what would split them.
    for (TInputPrefs& input : prefs.Inputs)
        input.Label = SanitizedLabel(input.Label);
    return true;
}

QString WriteUserPrefs(const TUserPrefs& prefs, const QString& fileName,
                       const ColumnWidthStore* columns)
{
    TIniFile ini(fileName);
    TUserPrefs p = prefs;
    for (const KeyDef& k : kKeys) {
        for (int i = 0, n = IndexCount(k, columns); i < n; ++i) {
            const QString key = KeyName(k, i);
            if (!k.field) {
                ini.WriteInteger(kControls, key, columns->ColumnWidth(i));
                continue;
            }
            const FieldRef src = k.field(p, i);
            if (auto* b = std::get_if<bool*>(&src))
                ini.WriteBool(*k.section, key, **b);
            else if (auto* v = std::get_if<std::int32_t*>(&src))
                ini.WriteInteger(*k.section, key, **v);
            else if (auto* s = std::get_if<QString*>(&src))
                ini.WriteString(*k.section, key, **s);
        }
    }
    return ini.Save() ? QString() : ResStr::CannotWrite(fileName);
}

} // namespace evtrak
