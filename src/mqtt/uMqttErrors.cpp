#include "mqtt/uMqttErrors.h"

#include <cerrno>
#include <cstring>
#include <mosquitto.h>

namespace evtrak {

// The reasons a user meets most, in French; the library's own text otherwise.
QString MosqError(int rc, int err)
{
    switch (rc) {
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
        return QStringLiteral("connexion perdue");
    case MOSQ_ERR_EAI:
        return QStringLiteral("serveur introuvable");
    case MOSQ_ERR_CONN_REFUSED:
        return QStringLiteral("connexion refusée par le serveur");
    case MOSQ_ERR_TLS:
        return QStringLiteral("échec de la négociation TLS");
    case MOSQ_ERR_ERRNO:
        if (err == ECONNREFUSED)
            return QStringLiteral("connexion refusée");
        if (err == ETIMEDOUT || err == EHOSTUNREACH || err == ENETUNREACH)
            return QStringLiteral("serveur injoignable");
        return QString::fromLocal8Bit(std::strerror(err));
    default:
        return QString::fromUtf8(mosquitto_strerror(rc));
    }
}

QString ConnackError(int rc)
{
    switch (rc) {
    case 4:
        return QStringLiteral("utilisateur ou mot de passe refusé");
    case 5:
        return QStringLiteral("connexion non autorisée (utilisateur ou mot de passe ?)");
    default:
        return QStringLiteral("connexion refusée par le serveur (%1)")
            .arg(QString::fromUtf8(mosquitto_connack_string(rc)));
    }
}

} // namespace evtrak
