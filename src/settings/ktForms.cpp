#include "settings/ktForms.h"

#include "base/uResStr.h"
#include "settings/ktIniFile.h"

#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <cstdint>

namespace evtrak {

namespace {
const QString kForms = QStringLiteral("FormsSizeAndPos");
const QString kLeft = QStringLiteral("_Left");
const QString kTop = QStringLiteral("_Top");
const QString kWidth = QStringLiteral("_Width");
const QString kHeight = QStringLiteral("_Height");
} // namespace

QRect PlaceForm(QRect current, int left, int top, int width, int height, bool resizable,
                QSize screen)
{
    // 64-bit arithmetic: stored values can be anything a 32-bit integer holds.
    std::int64_t l = current.left();
    std::int64_t t = current.top();
    std::int64_t w = current.width();
    std::int64_t h = current.height();
    const std::int64_t sw = screen.width();
    const std::int64_t sh = screen.height();
    if (left >= 0)
        l = left;
    if (top >= 0)
        t = top;
    if (resizable) {
        if (width >= 0)
            w = width;
        if (height >= 0)
            h = height;
    }
    if (l + w > sw)
        l = (sw - w) / 2; // truncates toward zero
    if (t + h > sh)
        t = (sh - h) / 2;
    if (w > sw - 5 && h > sh - 5) {
        w = sw - 10;
        h = sh - 10;
        l = 0;
        t = 0;
    }
    return QRect(static_cast<int>(l), static_cast<int>(t), static_cast<int>(w),
                 static_cast<int>(h));
}

QRect KeepInside(QRect outer, QRect area)
{
    if (!area.isValid())
        return outer;
    const int w = std::min(outer.width(), area.width());
    const int h = std::min(outer.height(), area.height());
    const int l = std::clamp(outer.left(), area.left(), area.left() + area.width() - w);
    const int t = std::clamp(outer.top(), area.top(), area.top() + area.height() - h);
    return QRect(l, t, w, h);
}

QList<TFormPlacement> ReadFormsSizeAndPos(const QString& fileName, const QStringList& names)
{
    QList<TFormPlacement> out;
    if (!QFileInfo::exists(fileName))
        return out;
    const TIniFile ini(fileName);
    for (const QString& n : names) {
        TFormPlacement p;
        p.left = ini.ReadInteger(kForms, n + kLeft, -1);
        p.top = ini.ReadInteger(kForms, n + kTop, -1);
        p.width = ini.ReadInteger(kForms, n + kWidth, -1);
        p.height = ini.ReadInteger(kForms, n + kHeight, -1);
        out.append(p);
    }
    return out;
}

void LoadFormsSizeAndPos(const QString& fileName, QList<TFormGeometry>& forms, QSize screen)
{
    QStringList names;
    for (const TFormGeometry& f : forms)
        names << f.name;
    const QList<TFormPlacement> stored = ReadFormsSizeAndPos(fileName, names);
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const TFormPlacement& p = stored[i];
        TFormGeometry& f = forms[i];
        f.geometry = PlaceForm(f.geometry, p.left, p.top, p.width, p.height, f.resizable, screen);
    }
}

QString SaveFormsSizeAndPos(const QString& fileName, const QList<TFormGeometry>& forms)
{
    TIniFile ini(fileName);
    for (const TFormGeometry& f : forms) {
        ini.WriteInteger(kForms, f.name + kLeft, f.geometry.left());
        ini.WriteInteger(kForms, f.name + kTop, f.geometry.top());
        ini.WriteInteger(kForms, f.name + kWidth, f.geometry.width());
        ini.WriteInteger(kForms, f.name + kHeight, f.geometry.height());
    }
    return ini.Save() ? QString() : ResStr::CannotWrite(fileName);
}

} // namespace evtrak
