#include "settings/uUserPrefs.h"

namespace evtrak {

TUserPrefs DefaultUserPrefs()
{
    TUserPrefs p;
    p.LogDurationFormat = 2;
    p.LogShowGridLines = false;
    p.LogUseColors = false;
    p.LogPrintColors = false;
    for (int i = 0; i < kInputCount; ++i) {
        TInputPrefs& in = p.Inputs[std::size_t(i)];
        in.Active = true;
        in.Label = QStringLiteral("Libellé_%1").arg(i);
    }
    p.CaptureThreadPriority = 3;
    p.CaptureSaveEdge = true;
    p.CaptureStallThreshold = 20;
    p.CaptureSamplingPeriod = 0;
    p.CaptureShowLiveLines = true;
    p.PortBaseAddressIndex = psLPT1;
    p.AppMainTitle = QStringLiteral("Acquisition de données");
    p.GridColumnCaption = {QStringLiteral("Evenement"), QStringLiteral("TS"),
                           QStringLiteral("Date / Heure"), QStringLiteral("Durée")};
    p.MiscMenuAsXPStyle = true;
    p.MiscShowErrorMessages = true;
    p.MqttTopicPrefix = QStringLiteral("evtrak");
    p.MqttKeepAlive = 60;
    p.MqttReplayDays = 7;
    return p;
}

TInputPrefs GetInputPrefs(const TUserPrefs& prefs, int i)
{
    if (i < 0 || i >= kInputCount)
        return TInputPrefs{};
    return prefs.Inputs[std::size_t(i)];
}

void SetInputPrefs(TUserPrefs& prefs, int i, const TInputPrefs& v)
{
    if (i < 0 || i >= kInputCount)
        return;
    prefs.Inputs[std::size_t(i)] = v;
}

} // namespace evtrak
