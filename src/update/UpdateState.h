#pragma once
// What the updater is doing, as the update sheet shows it. Two states are equal
// when their kind and all the values that kind carries are equal.

#include <QMetaType>
#include <QString>

#include <cstdint>
#include <optional>

namespace vessora {

class UpdateState {
public:
    // packageManaged: an asked-for check on a copy a package manager keeps up
    // to date; nothing was checked and nothing is offered.
    enum class Kind { idle, checking, upToDate, available, downloading, readyToRelaunch, failed, packageManaged };

    static UpdateState idle() { return UpdateState(Kind::idle); }
    static UpdateState checking() { return UpdateState(Kind::checking); }
    static UpdateState upToDate() { return UpdateState(Kind::upToDate); }
    static UpdateState available(QString version, int64_t build, std::optional<QString> notes);
    static UpdateState downloading(double progress);
    static UpdateState readyToRelaunch() { return UpdateState(Kind::readyToRelaunch); }
    static UpdateState failed(QString message);
    static UpdateState packageManaged() { return UpdateState(Kind::packageManaged); }

    UpdateState() = default;
    Kind kind() const { return kind_; }
    // Values of `available`.
    const QString& version() const { return text_; }
    int64_t build() const { return build_; }
    const std::optional<QString>& notes() const { return notes_; }
    // Value of `downloading`: the share of the archive received, 0 to 1; a
    // negative value when the size is not known (no Content-Length and no
    // length in the feed), which is shown as an indeterminate bar. The value
    // changes at most ten times a second.
    double progress() const { return progress_; }
    // Value of `failed`.
    const QString& message() const { return text_; }

    bool operator==(const UpdateState& other) const;
    // For test output and logs: "available(2.0, 42)", "failed(...)".
    QString debugText() const;

private:
    explicit UpdateState(Kind kind) : kind_(kind) {}
    Kind kind_ = Kind::idle;
    QString text_;
    int64_t build_ = 0;
    std::optional<QString> notes_;
    double progress_ = 0;
};

} // namespace vessora

Q_DECLARE_METATYPE(vessora::UpdateState)
