#include "update/UpdateState.h"

#include <utility>

namespace vessora {

UpdateState UpdateState::available(QString version, int64_t build, std::optional<QString> notes) {
    UpdateState state(Kind::available);
    state.text_ = std::move(version);
    state.build_ = build;
    state.notes_ = std::move(notes);
    return state;
}

UpdateState UpdateState::downloading(double progress) {
    UpdateState state(Kind::downloading);
    state.progress_ = progress;
    return state;
}

UpdateState UpdateState::failed(QString message) {
    UpdateState state(Kind::failed);
    state.text_ = std::move(message);
    return state;
}

bool UpdateState::operator==(const UpdateState& other) const {
    if (kind_ != other.kind_) return false;
    switch (kind_) {
    case Kind::available: return text_ == other.text_ && build_ == other.build_ && notes_ == other.notes_;
    case Kind::downloading: return progress_ == other.progress_;
    case Kind::failed: return text_ == other.text_;
    default: return true;
    }
}

QString UpdateState::debugText() const {
    switch (kind_) {
    case Kind::idle: return QStringLiteral("idle");
    case Kind::checking: return QStringLiteral("checking");
    case Kind::upToDate: return QStringLiteral("upToDate");
    case Kind::available:
        return QStringLiteral("available(%1, %2, %3)").arg(text_).arg(build_).arg(notes_.value_or("nil"));
    case Kind::downloading: return QStringLiteral("downloading(%1)").arg(progress_);
    case Kind::readyToRelaunch: return QStringLiteral("readyToRelaunch");
    case Kind::failed: return QStringLiteral("failed(%1)").arg(text_);
    case Kind::packageManaged: return QStringLiteral("packageManaged");
    }
    return {};
}

} // namespace vessora
