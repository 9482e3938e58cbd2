#include "acquisition/ktPortStart.h"

#include "acquisition/ktDemoPort.h"
#include "acquisition/ktDirectIo.h"
#include "acquisition/ktPortDevice.h"
#include "acquisition/ktPortsLog.h"
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
    auto access = std::make_unique<PortAccess>(std::move(backend));
    access->setDescription(text);
    qCDebug(lcPorts, "%s", qPrintable(text)); // the callers show it
    return access;
}

std::unique_ptr<PortAccess> None(const QString& reasons)
{
    return Make(nullptr, QStringLiteral("Aucun accès au port parallèle. ") + reasons);
}

std::unique_ptr<PortAccess> OpenNamedDevice(const QString& path)
{
    auto device = std::make_unique<PortDeviceFile>(path);
    if (!device->open())
        return None(path + QStringLiteral(" : ") +
                    PortErrorReason(device->error(), PortErrorPlace::PortDevice) +
                    QLatin1Char('.'));
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
        return OpenNamedDevice(options.portDevice);

    QStringList reasons;
    const std::uint16_t base = GetPortKind(options.lptSelection) == PortKind::Parallel
                                   ? LptBaseOf(options.lptSelection)
                                   : LptBaseOf(kDefaultPortSelection);

    // 1. The kernel's parallel-port device.
    auto io = seams.ppdevIo ? seams.ppdevIo : SystemPpdevIo();
    auto ppdev = std::make_unique<PpdevPort>(io, FindParportDevice(*io, base), base);
    const bool claimed = ppdev->open();
    QString ppdevText;
    if (claimed)
        ppdevText = ppdev->device() + QStringLiteral(" (pilote ppdev du noyau, accès exclusif)");
    else
        reasons << ppdev->device() + QStringLiteral(" : ") + ppdev->reason();

    // 2. Direct port instructions, keeping the claim so other drivers stay off the port.
    if (seams.tryDirectIo) {
        auto directIo = std::make_unique<DirectIoPort>();
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
    if (claimed)
        return Make(std::move(ppdev), QStringLiteral("Port parallèle : ") + ppdevText);

    // 3. The port-space device.
    auto device = std::make_unique<PortDeviceFile>(seams.portSpaceDevice);
    if (device->open())
        return Make(std::move(device), QStringLiteral("Port parallèle : ") + seams.portSpaceDevice);
    reasons << seams.portSpaceDevice + QStringLiteral(" : ") +
                   PortErrorReason(device->error(), PortErrorPlace::PortDevice);
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
