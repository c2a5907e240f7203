#pragma once
// Conversions at the window's edge. Paths are bytes and need not be UTF-8, so
// they go through the locale's file-name codec; every text made from a file
// name is shown as plain text, and in button and action texts '&' would start
// a mnemonic, so it is doubled.

#include <QString>

#include <string>

namespace vessora::Text {

// A path or file name for display (QFile::decodeName).
QString fromPath(const std::string& path);
// The last component of a path for display ("/" stays "/").
QString fileName(const std::string& path);
// Engine texts (messages, titles) are UTF-8.
QString fromUtf8(const std::string& text);
std::string toUtf8(const QString& text);
// For QAbstractButton::setText and QAction texts: "&" becomes "&&".
QString escapeMnemonic(QString text);
// Tooltips guess rich text from the content, so any text is wrapped and
// escaped to be shown exactly as it is.
QString toolTip(const QString& text);

} // namespace vessora::Text
