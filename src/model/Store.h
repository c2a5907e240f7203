#pragma once
// The base of the model's stores: each is confined to the main thread, and
// every write of a field observers see goes through these helpers.

#include <QObject>

#include <utility>

namespace vessora {

class Store : public QObject {
protected:
    using QObject::QObject;

    void assertMainThread() const;

    // Observers hear of a write only when it changed the value.
    template <class D, class T, class V> void publish(T& field, V&& value, void (D::*changed)()) {
        assertMainThread();
        if (field == value) return;
        field = std::forward<V>(value);
        emit(static_cast<D*>(this)->*changed)();
    }
    // For the fields whose every assignment is news (each result an alert).
    template <class D, class T, class V> void publishAlways(T& field, V&& value, void (D::*changed)()) {
        assertMainThread();
        field = std::forward<V>(value);
        emit(static_cast<D*>(this)->*changed)();
    }
    // An in-place change; `edit` returns whether it changed anything, and
    // only then are observers told.
    template <class D, class T, class F> void change(T& field, F&& edit, void (D::*changed)()) {
        assertMainThread();
        if (edit(field)) emit(static_cast<D*>(this)->*changed)();
    }
};

} // namespace vessora
