#pragma once
// The interface selection: which of the seven PC interfaces is used, its base
// address and short name, and its preparation before capture.
//
// Selections: 0..3 COM1..COM4 (serial), 4 LPT1, 5 LPT2 (parallel), 6 JOY1 (game
// port); anything else selects nothing.

#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>

class QSerialPort;

namespace evtrak {

class PortAccess;

enum class PortKind
{
    None,
    Serial,
    Parallel,
    Game
};

inline constexpr std::uint16_t kNoPortBase = 0xFFFF;
inline constexpr int kDefaultPortSelection = 4; // LPT1

PortKind GetPortKind(int selection);
// Sets all three to 0xFFFF, then the one of the selection's kind to its address.
void GetPortBaseAddresses(int selection, std::uint16_t& lpt, std::uint16_t& serial,
                          std::uint16_t& game);
// "COM1".."COM4", "LPT1", "LPT2", "JOY1"; empty outside 0..6.
QString GetPortName(int selection);
// The parallel base of an LPT selection (0x378, 0x278), 0xFFFF otherwise.
std::uint16_t LptBaseOf(int selection);
// "/dev/ttyS0".."/dev/ttyS3" for COM1..COM4, empty otherwise.
QString SerialDeviceName(int selection);

// The three base addresses in use (0 before the first set-up) and the serial port
// kept open for a COM selection. Lives on the UI thread; the bases are atomics
// because the capture worker reads them.
class TInterface
{
public:
    TInterface();
    ~TInterface();
    TInterface(const TInterface&) = delete;
    TInterface& operator=(const TInterface&) = delete;

    std::uint16_t LptBase() const { return m_lpt.load(std::memory_order_relaxed); }
    std::uint16_t SerialBase() const { return m_serial.load(std::memory_order_relaxed); }
    std::uint16_t GameAddress() const { return m_game.load(std::memory_order_relaxed); }
    void SetBases(int selection);

    // Closes the serial port, renames it after the selection and opens it again.
    // false on any failure (never reported).
    bool OpenSerialPort(int selection);
    bool SerialPortOpen() const;

private:
    std::atomic<std::uint16_t> m_lpt{0};
    std::atomic<std::uint16_t> m_serial{0};
    std::atomic<std::uint16_t> m_game{0};
    std::unique_ptr<QSerialPort> m_serialPort;
};

// Bases of the selection; LPT: data lines driven to 0; COM: the port (re)opened.
// Nothing else is written to the hardware.
void SetUpInterface(PortAccess& pa, int selection, TInterface& itf);
bool OpenSerialPort(int selection, TInterface& itf);
// Evaluated afresh on every call.
// Serial: the port is open. Parallel: port access works for that port. Game port and
// anything else: false.
bool IsPortAccessible(const PortAccess& pa, int selection, TInterface& itf);
// Why the selection is not accessible, in French on one line (for the refusal message);
// empty when there is nothing more to say.
QString PortRefusalReason(const PortAccess& pa, int selection);

} // namespace evtrak
