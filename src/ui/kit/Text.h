#pragma once
// Conversions at the window's edge. Paths are bytes and need not be UTF-8.
// Shown, a name's control characters (a newline, an escape), line separators
// and undecodable bytes are visible escapes ("\n", "\x1b", "\xff"), so a name
// is always one line that says what it holds; handed to Qt's file and URL
// classes, the path is decoded as it is. Every text made from a file name is
// shown as plain text, and in button and action texts '&' would start a
// mnemonic, so it is doubled.

#include <QString>

#include <string>

namespace vessora::Text {

// A path or file name for display, with visible escapes.
QString fromPath(const std::string& path);
// Any other name from outside (an app's, a volume's) for display, the same way.
QString fromName(const std::string& name);
// The last component of a path for display ("/" stays "/").
QString fileName(const std::string& path);
// A path for QFile, QUrl and file dialogs, and for keys (QFile::decodeName):
// never for display.
QString filePath(const std::string& path);
// Engine texts (messages, titles) are UTF-8.
QString fromUtf8(const std::string& text);
std::string toUtf8(const QString& text);
// For QAbstractButton::setText and QAction texts: "&" becomes "&&".
QString escapeMnemonic(QString text);
// Tooltips guess rich text from the content, so any text is wrapped and
// escaped to be shown exactly as it is.
QString toolTip(const QString& text);

} // namespace vessora::Text
