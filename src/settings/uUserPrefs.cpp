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
        p.LogEventActive[i] = true;
        p.LogEventInvert[i] = false;
        p.LogEventMinDuration[i] = 2;
        p.LogEventLabel[i] = QStringLiteral("Libellé_%1").arg(i);
        p.LogEventTextColor[i] = clBlack;
        p.LogEventBGColor[i] = clWindow;
        p.LogEventDebounce[i] = 0;
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
    return TInputPrefs{prefs.LogEventActive[i],      prefs.LogEventInvert[i],
                       prefs.LogEventMinDuration[i], prefs.LogEventLabel[i],
                       prefs.LogEventTextColor[i],   prefs.LogEventBGColor[i]};
}

void SetInputPrefs(TUserPrefs& prefs, int i, const TInputPrefs& v)
{
    if (i < 0 || i >= kInputCount)
        return;
    prefs.LogEventActive[i] = v.Active;
    prefs.LogEventInvert[i] = v.Invert;
    prefs.LogEventMinDuration[i] = v.MinDuration;
    prefs.LogEventLabel[i] = v.Label;
    prefs.LogEventTextColor[i] = v.TextColor;
    prefs.LogEventBGColor[i] = v.BGColor;
}

} // namespace evtrak
