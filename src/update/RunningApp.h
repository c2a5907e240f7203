#pragma once

#include <string>

namespace vessora::RunningApp {

// The application folder the running executable sits in
// (<folder>.app/Contents/MacOS/<name>), or "" when it is not in one.
std::string bundle();

} // namespace vessora::RunningApp
