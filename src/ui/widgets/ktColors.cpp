#include "ui/widgets/ktColors.h"

#include <cstdint>

namespace evtrak {

namespace {
constexpr std::uint32_t kSystemFlag = 0x80000000u;

// The Windows desktop colour indexes, by meaning.
QColor SystemColor(unsigned index, const QPalette& pal)
{
    switch (index) {
    case 5: // window background
        return pal.color(QPalette::Base);
    case 8: // window text
        return pal.color(QPalette::Text);
    case 15: // button face
        return pal.color(QPalette::Button);
    case 13: // highlight
    case 29: // menu highlight
    case 2:  // active caption
        return pal.color(QPalette::Highlight);
    case 14: // highlight text
    case 9:  // caption text
        return pal.color(QPalette::HighlightedText);
    case 7: // menu text
        return pal.color(QPalette::WindowText);
    case 18: // button text
        return pal.color(QPalette::ButtonText);
    case 17: // grey text
        return pal.color(QPalette::Disabled, QPalette::Text);
    case 16: // button shadow
        return pal.color(QPalette::Dark);
    case 20: // button highlight
        return pal.color(QPalette::Light);
    case 21: // 3D dark shadow
        return pal.color(QPalette::Shadow);
    case 22: // 3D light
        return pal.color(QPalette::Midlight);
    case 23: // tool-tip text
        return pal.color(QPalette::ToolTipText);
    case 24: // tool-tip background
        return pal.color(QPalette::ToolTipBase);
    case 26: // hot-tracked item
        return pal.color(QPalette::Link);
    default:
        return pal.color(QPalette::Window);
    }
}
} // namespace

QColor ToQColor(TColor c, const QPalette& pal)
{
    const auto bits = static_cast<std::uint32_t>(c);
    if ((bits & 0xFF000000u) == kSystemFlag)
        return SystemColor(bits & 0xFFu, pal);
    return QColor(static_cast<int>(bits & 0xFFu), static_cast<int>((bits >> 8) & 0xFFu),
                  static_cast<int>((bits >> 16) & 0xFFu));
}

TColor FromQColor(const QColor& c)
{
    if (!c.isValid())
        return clBlack;
    const QColor rgb = c.toRgb();
    return static_cast<TColor>(static_cast<std::uint32_t>(rgb.red()) |
                               (static_cast<std::uint32_t>(rgb.green()) << 8) |
                               (static_cast<std::uint32_t>(rgb.blue()) << 16));
}

} // namespace evtrak
