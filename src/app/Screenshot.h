#pragma once
// --screenshot: shows the window on a section, waits until that section's
// first measurement has finished, saves a PNG of the window (or of the update
// sheet in a given state) and returns the exit status.

#include "app/LaunchOptions.h"

namespace vessora {

class CorvaneModel;
class MainWindow;
class Updater;

namespace Screenshot {

int run(MainWindow& window, CorvaneModel& model, Updater& updater, const LaunchOptions& options);

} // namespace Screenshot
} // namespace vessora
