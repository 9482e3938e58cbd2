#include "acquisition/uPortSelection.h"

#include "acquisition/ktPorts.h"

#include <QSerialPort>

namespace evtrak {

namespace {

constexpr std::uint16_t kSerialBases[4] = {0x3F8, 0x2F8, 0x3E8, 0x2E8};
constexpr std::uint16_t kLptBases[2] = {0x378, 0x278};
constexpr std::uint16_t kGameAddress = 0x201;

} // namespace

PortKind GetPortKind(int selection)
{
    if (selection >= 0 && selection <= 3)
        return PortKind::Serial;
    if (selection == 4 || selection == 5)
        return PortKind::Parallel;
    if (selection == 6)
        return PortKind::Game;
    return PortKind::None;
}

void GetPortBaseAddresses(int selection, std::uint16_t& lpt, std::uint16_t& serial,
                          std::uint16_t& game)
{
    lpt = serial = game = kNoPortBase;
    switch (GetPortKind(selection)) {
    case PortKind::Serial:
        serial = kSerialBases[selection];
        break;
    case PortKind::Parallel:
        lpt = kLptBases[selection - 4];
        break;
    case PortKind::Game:
        game = kGameAddress;
        break;
    case PortKind::None:
        break;
    }
}

QString GetPortName(int selection)
{
    switch (GetPortKind(selection)) {
    case PortKind::Serial:
        return QStringLiteral("COM%1").arg(selection + 1);
    case PortKind::Parallel:
        return QStringLiteral("LPT%1").arg(selection - 3);
    case PortKind::Game:
        return QStringLiteral("JOY1");
    case PortKind::None:
        break;
    }
    return {};
}

std::uint16_t LptBaseOf(int selection)
{
    return GetPortKind(selection) == PortKind::Parallel ? kLptBases[selection - 4] : kNoPortBase;
}

QString SerialDeviceName(int selection)
{
    if (GetPortKind(selection) != PortKind::Serial)
        return {};
    return QStringLiteral("/dev/ttyS%1").arg(selection);
}

TInterface::TInterface() = default;

TInterface::~TInterface() = default;

void TInterface::SetBases(int selection)
{
    std::uint16_t lpt = 0, serial = 0, game = 0;
    GetPortBaseAddresses(selection, lpt, serial, game);
    m_lpt.store(lpt, std::memory_order_relaxed);
    m_serial.store(serial, std::memory_order_relaxed);
    m_game.store(game, std::memory_order_relaxed);
}

bool TInterface::OpenSerialPort(int selection)
{
    if (!m_serialPort)
        m_serialPort = std::make_unique<QSerialPort>();
    m_serialPort->close();
    const QString device = SerialDeviceName(selection);
    if (device.isEmpty())
        return false;
    m_serialPort->setPortName(device);
    // Opened only to claim the port and report it open; the modem lines are read from
    // the UART registers.
    return m_serialPort->open(QIODevice::ReadWrite);
}

bool TInterface::SerialPortOpen() const
{
    return m_serialPort && m_serialPort->isOpen();
}

void SetUpInterface(PortAccess& pa, int selection, TInterface& itf)
{
    itf.SetBases(selection);
    switch (GetPortKind(selection)) {
    case PortKind::Parallel:
        WriteLptData(pa, itf.LptBase(), 0);
        break;
    case PortKind::Serial:
        itf.OpenSerialPort(selection);
        break;
    case PortKind::Game:
    case PortKind::None:
        break;
    }
}

bool OpenSerialPort(int selection, TInterface& itf)
{
    return itf.OpenSerialPort(selection);
}

bool IsPortAccessible(const PortAccess& pa, int selection, TInterface& itf)
{
    switch (GetPortKind(selection)) {
    case PortKind::Serial:
        return itf.SerialPortOpen();
    case PortKind::Parallel:
        return pa.ServesLpt(LptBaseOf(selection));
    case PortKind::Game:
    case PortKind::None:
        break;
    }
    return false;
}

QString PortRefusalReason(const PortAccess& pa, int selection)
{
    switch (GetPortKind(selection)) {
    case PortKind::Parallel:
        if (!pa.DriverAvailable())
            return pa.Reason();
        if (!pa.ServesLpt(LptBaseOf(selection)))
            // The port is claimed at program start, for the selection stored then.
            return QStringLiteral(
                       "%1 a été ouvert au démarrage ; relancez Evtrak pour utiliser %2.")
                .arg(pa.backend()->name(), GetPortName(selection));
        return {};
    case PortKind::Serial:
        return QStringLiteral("%1 : ouverture impossible.").arg(SerialDeviceName(selection));
    case PortKind::Game:
    case PortKind::None:
        break;
    }
    return {};
}

} // namespace evtrak
