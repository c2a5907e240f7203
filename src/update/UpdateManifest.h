#pragma once
// The update feed's record: one JSON object.

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <optional>

namespace vessora {

struct UpdateManifest {
    QString version;
    int64_t build = 0;
    QUrl url;
    std::optional<QString> sha256;
    std::optional<QString> notes;
    std::optional<QString> minimumSystemVersion;
    // The archive's size in bytes, when the feed gives it: shows download
    // progress when the server sends no length of its own.
    std::optional<int64_t> length;

    // Strict: the required keys must be present with their JSON types (`build`
    // an integral number, `url` a valid absolute URL string); optional keys,
    // when present and not null, must be strings (`length` a whole number
    // of bytes, not negative). Other keys are ignored. On
    // failure `error` gets a sentence for the user.
    static std::optional<UpdateManifest> decode(const QByteArray& json, QString& error);

    bool operator==(const UpdateManifest&) const = default;
};

} // namespace vessora
