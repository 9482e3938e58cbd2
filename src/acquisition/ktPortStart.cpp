#include "acquisition/ktPortStart.h"

#include "acquisition/ktDemoPort.h"
#include "acquisition/ktDirectIo.h"
#include "acquisition/ktPortDevice.h"
#include "acquisition/ktPpdev.h"
#include "acquisition/uPortSelection.h"

#include <QStringList>
#include <cerrno>
#include <cstring>

namespace evtrak {

QString PortErrorReason(int err, PortErrorPlace place)
{
    switch (err) {
    case EACCES:
        if (place == PortErrorPlace::Parport)
            return QStringLiteral("accès refusé : l'utilisateur n'est pas membre du groupe lp");
        if (place == PortErrorPlace::PortDevice)
            return QStringLiteral("accès refusé (droits insuffisants)");
        return QStringLiteral("accès refusé");
    case ENXIO:
    case EBUSY:
        return QStringLiteral("port tenu par un autre pilote (lp ?)");
    case EPERM:
        return QStringLiteral(
            "refusé : noyau verrouillé (Secure Boot) ou capacité CAP_SYS_RAWIO absente");
    case ENOENT:
        if (place == PortErrorPlace::Parport)
            return QStringLiteral("introuvable (module ppdev non chargé ?)");
        return QStringLiteral("introuvable");
    case ENOSYS:
    case ENODEV:
        return QStringLiteral("non disponible sur ce système");
    default:
        return QString::fromLocal8Bit(std::strerror(err));
    }
}

namespace {

std::unique_ptr<PortAccess> Make(std::unique_ptr<PortBackend> backend, const QString& text)
{
    // The callers print the description: not logged here, or it would show twice.
    auto access = std::make_unique<PortAccess>(std::move(backend));
    access->setDescription(text);
    return access;
}

std::unique_ptr<PortAccess> None(const QString& reasons)
{
    auto access = Make(nullptr, QStringLiteral("Aucun accès au port parallèle. ") + reasons);
    access->setReason(reasons);
    return access;
}

QString OpenFailure(const PortDeviceFile& device)
{
    return device.refusal().isEmpty() ? PortErrorReason(device.error(), PortErrorPlace::PortDevice)
                                      : device.refusal();
}

std::unique_ptr<PortAccess> OpenNamedDevice(const QString& path, int lptSelection)
{
    auto device = std::make_unique<PortDeviceFile>(path);
    // Up to the control register of the selected port.
    const std::uint16_t base = GetPortKind(lptSelection) == PortKind::Parallel
                                   ? LptBaseOf(lptSelection)
                                   : LptBaseOf(kDefaultPortSelection);
    device->requireSize(qint64(base) + 3);
    if (!device->open())
        return None(path + QStringLiteral(" : ") + OpenFailure(*device) + QLatin1Char('.'));
    return Make(std::move(device), QStringLiteral("Port parallèle : périphérique de port ") + path);
}

} // namespace

std::unique_ptr<PortAccess> StartPortDriver(const PortStartOptions& options,
                                            const PortStartSeams& seams)
{
    if (options.demo)
        return Make(std::make_unique<DemoPort>(),
                    QStringLiteral("Port parallèle simulé (démonstration) : les entrées "
                                   "changent d'elles-mêmes."));
    if (!options.portDevice.isEmpty())
        return OpenNamedDevice(options.portDevice, options.lptSelection);

    QStringList reasons;
    const std::uint16_t base = GetPortKind(options.lptSelection) == PortKind::Parallel
                                   ? LptBaseOf(options.lptSelection)
                                   : LptBaseOf(kDefaultPortSelection);
    const QString procRoot = seams.procRoot.isEmpty() ? kProcParport : seams.procRoot;

    // 1. The kernel's parallel-port device, claimed exclusively.
    auto io = seams.ppdevIo ? seams.ppdevIo : SystemPpdevIo();
    const ParportLookup lookup = FindParport(*io, base, procRoot);
    std::unique_ptr<PpdevPort> ppdev;
    bool claimed = false;
    if (lookup.device.isEmpty()) {
        reasons << QStringLiteral("aucun port parallèle du noyau à 0x%1").arg(base, 0, 16);
    } else {
        ppdev = std::make_unique<PpdevPort>(io, lookup.device, base, procRoot);
        claimed = ppdev->open();
        if (!claimed) {
            reasons << ppdev->device() + QStringLiteral(" : ") + ppdev->reason();
            // The kernel drives this port: without its claim, nothing may touch it, or
            // two drivers would write the same registers.
            if (lookup.listed || ppdev->heldElsewhere())
                return None(reasons.constLast() + QLatin1Char('.'));
        }
    }

    // 2. Direct port instructions, keeping the claim so other drivers stay off the port.
    if (seams.tryDirectIo) {
        auto directIo = std::make_unique<DirectIoPort>(DirectIoPort::DefaultRanges(base));
        if (directIo->open()) {
            QString text = QStringLiteral("Port parallèle : instructions d'entrée-sortie "
                                          "directes (ioperm)");
            if (claimed) {
                text += QStringLiteral(", ") + ppdev->device() + QStringLiteral(" réservé");
                directIo->keepClaim(std::move(ppdev));
            } else {
                text += QStringLiteral(" ; ") + reasons.constLast();
            }
            return Make(std::move(directIo), text);
        }
        reasons << QStringLiteral("ioperm : ") +
                       PortErrorReason(directIo->error(), PortErrorPlace::DirectIo);
    }
    if (claimed) {
        const QString text = QStringLiteral("Port parallèle : ") + ppdev->device() +
                             QStringLiteral(" (pilote ppdev du noyau, accès exclusif)");
        return Make(std::move(ppdev), text);
    }

    // 3. The port-space device.
    auto device = std::make_unique<PortDeviceFile>(seams.portSpaceDevice);
    device->limitToLpt(base);
    if (device->open())
        return Make(std::move(device), QStringLiteral("Port parallèle : ") + seams.portSpaceDevice);
    reasons << seams.portSpaceDevice + QStringLiteral(" : ") + OpenFailure(*device);
    return None(reasons.join(QStringLiteral(" ; ")) + QLatin1Char('.'));
}

std::unique_ptr<PortAccess> StartPortDriver(const PortStartOptions& options)
{
    return StartPortDriver(options, PortStartSeams{});
}

void RemovePortDriver(std::unique_ptr<PortAccess>& access)
{
    // The backends release their claims and close their devices as they go.
    access.reset();
}

} // namespace evtrak
