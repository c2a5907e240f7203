#include "update/UpdateError.h"

namespace vessora {

QString description(UpdateError error) {
    switch (error) {
    case UpdateError::badResponse: return QStringLiteral("The update server did not answer properly.");
    case UpdateError::checksumMismatch:
        return QStringLiteral("The download did not match its checksum and was discarded.");
    case UpdateError::unpackFailed: return QStringLiteral("The update could not be unpacked.");
    case UpdateError::signatureInvalid:
        return QStringLiteral("The downloaded app is not validly signed and was discarded.");
    case UpdateError::wrongTeam:
        return QStringLiteral("The downloaded app is signed by someone else and was discarded.");
    }
    return {};
}

} // namespace vessora
