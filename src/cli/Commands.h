#pragma once
// The vessora tool's commands. Each returns the process exit status: 0 done,
// 1 failed (or, for removals, anything failed or was refused), 2 bad usage,
// 130 cancelled by Ctrl-C.

#include <string>
#include <vector>

namespace vessora::cli {

using Arguments = std::vector<std::string>;

int scanCommand(const Arguments& args);           // scan PATH|--import FILE [--save] [--export FILE] ...
int historyCommand(const Arguments& args);        // history [PATH] [--json]
int diffCommand(const Arguments& args);           // diff [--json] [--top N] PATH | A B
int sizeCommand(const Arguments& args);           // size PATH...
int overviewCommand(const Arguments& args);       // overview [--json]
int snapshotsCommand(const Arguments& args);      // snapshots [--json] | snapshots --delete NAME [--yes] [--admin]
int cleanupCommand(const Arguments& args);        // cleanup [--json]
int checkCommand(const Arguments& args);          // check PATH...
int removeCommand(const Arguments& args);         // remove [--trash|--delete] [--yes] [--admin] PATH...
int restoreCommand(const Arguments& args);        // restore --last
int appsCommand(const Arguments& args);           // apps [--include-system] [--json] [--leftovers]
int backupCommand(const Arguments& args);         // backup [--into FOLDER] --label LABEL PATH...
int messagesExportCommand(const Arguments& args); // messages-export DATABASE [--out FILE]

} // namespace vessora::cli
