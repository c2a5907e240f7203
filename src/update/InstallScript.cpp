#include "update/InstallScript.h"

#include "platform/PrivilegedRunner.h"

#include <vector>

namespace vessora::InstallScript {

namespace {

// A value as it may appear in the log: control characters escaped, so no
// path can start a line of its own (a forged "OK" line, say).
std::string logged(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c < 0x20 || c == 0x7f) {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else
            out += char(c);
    }
    return out;
}

// Every log line is printed with a fixed format; values are arguments, never
// part of the format or of an echo that could interpret escapes.
std::string say(const std::string& text) { return "printf '%s\\n' \"" + text + "\""; }

} // namespace

std::string build(const Values& v) {
    const auto quote = shellWord;
    // Every inserted value is a quoted word of its own, never text spliced
    // into a quoted string, so no path can end the quoting and run commands.
    const std::string c = quote(v.current);
    const std::string s = quote(v.staged);
    const std::string d = quote(v.unpackFolder);
    const std::string old = quote(v.current + ".old");
    const std::string exe = quote(v.current + "/Contents/MacOS/" + v.executableName);
    const std::string oldExe = quote(v.current + ".old/Contents/MacOS/" + v.executableName);
    const std::string stagedExe = quote(v.staged + "/Contents/MacOS/" + v.executableName);
    const std::string pid = std::to_string(v.pid);

    const std::vector<std::string> lines = {
        // `command` keeps a failed redirection from ending the shell: a log
        // left in /tmp by another account must not stop the install after
        // the app has already quit.
        "command exec >>" + quote(v.log) + " 2>&1" +
            (v.fallbackLog.empty() ? "" : " || command exec >>" + quote(v.fallbackLog) + " 2>&1") +
            " || exec >/dev/null 2>&1",
        "printf '%s update starting: %s <- %s\\n' \"--- $(date)\" " + quote(logged(v.current)) + " " +
            quote(logged(v.staged)),
        "",
        "# Wait for this app to exit, but never indefinitely. An earlier version looped",
        "# forever, so if the app failed to quit the helper stayed resident and fired at",
        "# some unrelated moment later, swapping bundles out from under whatever was",
        "# running by then.",
        "waited=0",
        "while kill -0 " + pid + " 2>/dev/null; do",
        "  sleep 0.2",
        "  waited=$((waited + 1))",
        "  if [ \"$waited\" -gt 150 ]; then",
        "    " + say("ABORT: app still running after 30s, touching nothing"),
        "    exit 1",
        "  fi",
        "done",
        "",
        "# The app has quit for this update: however the script ends from here on, an",
        "# abort, a failed copy or a signal, the installed version is started again.",
        "updated=0",
        "relaunch() {",
        "  [ \"$updated\" = 1 ] || " + say("relaunching the installed version"),
        "  if [ -x " + exe + " ]; then setsid -f " + exe + " </dev/null >/dev/null 2>&1",
        "  elif [ -x " + oldExe + " ]; then setsid -f " + oldExe + " </dev/null >/dev/null 2>&1",
        "  fi",
        "}",
        "trap relaunch EXIT",
        "trap 'exit 1' HUP INT TERM",
        "",
        "# Nothing is moved until the replacement is proven to exist and be valid right",
        "# now. This is the check whose absence destroyed the app: the old script moved",
        "# the installed copy aside first and only then discovered it had nothing to put",
        "# in its place.",
        "[ -d " + s + " ] || { " + say("ABORT: staged copy is gone, installed app untouched") + "; exit 1; }",
        "[ -x " + stagedExe + " ] || { " + say("ABORT: staged copy has no executable, installed app untouched") +
            "; exit 1; }",
        "if ! " + exe + " --verify-signature " + s + "; then",
        "  " + say("ABORT: staged signature invalid, installed app untouched") + "; exit 1",
        "fi",
        "",
        "rm -rf " + old,
        "if ! mv " + c + " " + old + "; then",
        "  " + say("FAIL: could not move the old bundle aside") + "; exit 1",
        "fi",
        "",
        "cp --archive --no-target-directory " + s + " " + c,
        "printf 'cp exit=%s\\n' \"$?\"",
        "",
        "# Verify rather than trust: the bundle, its executable, and the signature.",
        "ok=1",
        "[ -d " + c + " ] || { " + say("FAIL: no bundle after copy") + "; ok=0; }",
        "[ -x " + exe + " ] || { " + say("FAIL: no executable after copy") + "; ok=0; }",
        oldExe + " --verify-signature " + c + " || { " + say("FAIL: signature invalid after copy") + "; ok=0; }",
        "",
        "if [ \"$ok\" != \"1\" ]; then",
        "  " + say("restoring backup"),
        "  rm -rf " + c,
        "  mv " + old + " " + c + " && " + say("restored") + " || " + say("FAIL: restore failed"),
        "  exit 1",
        "fi",
        "",
        "rm -rf " + old + " " + d,
        "updated=1",
        say("OK: updated, relaunching"),
    };
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) text += '\n';
        text += lines[i];
    }
    return text;
}

} // namespace vessora::InstallScript
