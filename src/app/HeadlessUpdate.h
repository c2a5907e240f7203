#pragma once
// `Vessora --install-update`: the update check, download, verification and
// install without a window, for administrators' scripts and for testing a
// release end to end. It goes through exactly the same Updater steps as the
// update sheet.

namespace vessora::HeadlessUpdate {

// Prints each state as it is reached. Exit status: 0 when the installer took
// over (the app then quits and is relaunched in its new version) or when the
// installed build is already the newest, 1 when any step failed or a package
// manager owns this copy (it says so).
int run(int argc, char** argv);

} // namespace vessora::HeadlessUpdate
