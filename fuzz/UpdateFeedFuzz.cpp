// The update feed record and the version and build numbers it is compared
// by: a decoded record has an absolute valid URL and survives being written as
// JSON and decoded again; a refusal always says why; build numbers read back
// what was written; the system-version rule is monotonic.

#include "FuzzCheck.h"
#include "update/UpdateManifest.h"
#include "update/Updater.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <string>

using namespace vessora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in = fuzz::text(data, size);
    const QByteArray bytes(in.data(), qsizetype(in.size()));

    QString error;
    auto manifest = UpdateManifest::decode(bytes, error);
    FUZZ_CHECK(manifest.has_value() == error.isEmpty());
    if (manifest) {
        FUZZ_CHECK(manifest->url.isValid() && !manifest->url.isRelative());
        QJsonObject object{{"version", manifest->version},
                           {"build", qint64(manifest->build)},
                           {"url", manifest->url.toString(QUrl::FullyEncoded)}};
        if (manifest->sha256) object.insert("sha256", *manifest->sha256);
        if (manifest->notes) object.insert("notes", *manifest->notes);
        if (manifest->minimumSystemVersion) object.insert("minimumSystemVersion", *manifest->minimumSystemVersion);
        QString again;
        auto decoded = UpdateManifest::decode(QJsonDocument(object).toJson(), again);
        FUZZ_CHECK(decoded.has_value());
        FUZZ_CHECK(decoded->version == manifest->version && decoded->build == manifest->build);
        FUZZ_CHECK(decoded->sha256 == manifest->sha256 && decoded->notes == manifest->notes);
        FUZZ_CHECK(decoded->minimumSystemVersion == manifest->minimumSystemVersion);
        FUZZ_CHECK(decoded->url.isValid() && !decoded->url.isRelative());
    }

    (void)Updater::parseBuildNumber(in);
    std::string_view rest = in;
    const auto number = fuzz::take<int64_t>(rest);
    // Build numbers are never negative: "-5" reads as no build number.
    FUZZ_CHECK(Updater::parseBuildNumber(std::to_string(number)) == std::max<int64_t>(number, 0));

    const auto major = fuzz::take<int32_t>(rest), minor = fuzz::take<int32_t>(rest);
    const QString minimum = QString::fromUtf8(rest.data(), qsizetype(rest.size()));
    if (Updater::systemMeets(minimum, major, minor)) {
        if (minor < INT32_MAX) FUZZ_CHECK(Updater::systemMeets(minimum, major, minor + 1));
        if (major < INT32_MAX) FUZZ_CHECK(Updater::systemMeets(minimum, major + 1, 0));
    }
    return 0;
}
