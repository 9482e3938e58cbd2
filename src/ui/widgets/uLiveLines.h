#pragma once
// The live lines: one indicator per input under the banner, lit while the input is
// counted active. Fed from the state word the worker publishes; it never asks the
// worker anything.

#include "settings/uUserPrefs.h"

#include <QWidget>
#include <array>
#include <cstdint>

class QLabel;

namespace evtrak {

class TLiveLines : public QWidget
{
    Q_OBJECT
public:
    explicit TLiveLines(QWidget* parent = nullptr);

    // Labels (tooltips), colours and which inputs are monitored.
    void SetInputs(const TUserPrefs& prefs);
    // Bit i lights input i; while stopped every indicator is off.
    void ShowStates(std::uint16_t word, bool running);

    bool IsLit(int input) const;
    QLabel* Indicator(int input) const { return m_cells.at(std::size_t(input)); }

private:
    void Paint(int input);

    std::array<QLabel*, kInputCount> m_cells{};
    std::array<QColor, kInputCount> m_onColors{};
    std::array<bool, kInputCount> m_active{};
    std::uint16_t m_lit = 0;
    bool m_painted = false;
};

} // namespace evtrak
