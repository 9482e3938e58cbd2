#pragma once
// The broker client library's failures as short French reasons for the user.

#include <QString>

namespace evtrak {

// The reasons a user meets most (lost connection, unknown or unreachable server,
// refusal, TLS); the library's own text otherwise. err: errno for MOSQ_ERR_ERRNO.
QString MosqError(int rc, int err = 0);
// Why the broker refused a connection (a CONNACK code).
QString ConnackError(int rc);

} // namespace evtrak
