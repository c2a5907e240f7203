#include "ui/kit/Text.h"

#include "support/Utf8.h"

#include <QFile>

namespace vessora::Text {

QString fromPath(const std::string& path) { return fromUtf8(Utf8::printable(path, false)); }

QString fromName(const std::string& name) { return fromPath(name); }

QString filePath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

QString fileName(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    auto slash = trimmed.rfind('/');
    if (slash == std::string::npos || trimmed == "/") return fromPath(trimmed);
    return fromPath(trimmed.substr(slash + 1));
}

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

std::string toUtf8(const QString& text) { return text.toUtf8().toStdString(); }

QString escapeMnemonic(QString text) { return text.replace(QLatin1Char('&'), QStringLiteral("&&")); }

QString toolTip(const QString& text) {
    if (text.isEmpty()) return {};
    return QStringLiteral("<span style=\"white-space:pre-wrap\">%1</span>").arg(text.toHtmlEscaped());
}

} // namespace vessora::Text
