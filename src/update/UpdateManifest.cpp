#include "update/UpdateManifest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QVariant>

#include <cmath>

namespace vessora {

namespace {

QString unreadable(const QString& detail) {
    return QStringLiteral("The update information could not be read: %1.").arg(detail);
}

bool optionalString(const QJsonObject& object, const char* key, std::optional<QString>& out, QString& error) {
    QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) return true;
    if (!value.isString()) {
        error = unreadable(QStringLiteral("“%1” is not text").arg(QLatin1String(key)));
        return false;
    }
    out = value.toString();
    return true;
}

} // namespace

std::optional<UpdateManifest> UpdateManifest::decode(const QByteArray& json, QString& error) {
    QJsonParseError parseError;
    QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = unreadable(QStringLiteral("it is not valid JSON (%1)").arg(parseError.errorString()));
        return std::nullopt;
    }
    if (!document.isObject()) {
        error = unreadable(QStringLiteral("it is not a JSON object"));
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    UpdateManifest manifest;
    for (const char* key : {"version", "build", "url"}) {
        if (!object.contains(QLatin1String(key))) {
            error = unreadable(QStringLiteral("“%1” is missing").arg(QLatin1String(key)));
            return std::nullopt;
        }
    }
    QJsonValue version = object.value(QLatin1String("version"));
    if (!version.isString()) {
        error = unreadable(QStringLiteral("“version” is not text"));
        return std::nullopt;
    }
    manifest.version = version.toString();

    // Qt keeps a JSON integer that fits 64 bits as an integer and anything
    // else (fractions, exponents, huge values) as a double; a double counts
    // only when it is integral and in range.
    QJsonValue build = object.value(QLatin1String("build"));
    QVariant buildValue = build.toVariant();
    double number = build.toDouble();
    if (build.isDouble() && buildValue.typeId() == QMetaType::LongLong) {
        manifest.build = buildValue.toLongLong();
    } else if (build.isDouble() && std::floor(number) == number && number >= -9.2233720368547758e18 &&
               number < 9.2233720368547758e18) {
        manifest.build = static_cast<int64_t>(number);
    } else {
        error = unreadable(QStringLiteral("“build” is not a whole number"));
        return std::nullopt;
    }

    QJsonValue url = object.value(QLatin1String("url"));
    manifest.url = QUrl(url.toString(), QUrl::StrictMode);
    if (!url.isString() || url.toString().isEmpty() || !manifest.url.isValid() || manifest.url.isRelative()) {
        error = unreadable(QStringLiteral("“url” is not a valid URL"));
        return std::nullopt;
    }
    if (!optionalString(object, "sha256", manifest.sha256, error) ||
        !optionalString(object, "notes", manifest.notes, error) ||
        !optionalString(object, "minimumSystemVersion", manifest.minimumSystemVersion, error))
        return std::nullopt;
    QJsonValue length = object.value(QLatin1String("length"));
    if (!length.isUndefined() && !length.isNull()) {
        QVariant lengthValue = length.toVariant();
        if (!length.isDouble() || lengthValue.typeId() != QMetaType::LongLong || lengthValue.toLongLong() < 0) {
            error = unreadable(QStringLiteral("“length” is not a number of bytes"));
            return std::nullopt;
        }
        manifest.length = lengthValue.toLongLong();
    }
    return manifest;
}

} // namespace vessora
