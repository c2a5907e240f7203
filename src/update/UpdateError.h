#pragma once

#include <QString>

namespace vessora {

enum class UpdateError { badResponse, checksumMismatch, unpackFailed, signatureInvalid, wrongTeam };

// The sentence shown to the user.
QString description(UpdateError error);

} // namespace vessora
