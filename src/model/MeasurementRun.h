#pragma once
// The fan-out shared by the model's measurement runs: one child task per
// definition, results taken in the order the children finish.

#include "model/Async.h"

#include <QThreadPool>

#include <functional>
#include <memory>
#include <vector>

namespace vessora {

// Queue priorities on the model's pools: the coordinating task of a run and a
// scan come before the children they start.
inline constexpr int userInitiatedPriority = 1;
inline constexpr int utilityPriority = 0;

// Called on a run's coordinating task; blocks it until every child is done.
// Starts one child per definition on `workers`, all at once, each returning
// measure(definition). For every result, in completion order, increments the
// count of finished definitions and calls deliver(result, done / total) on the coordinating
// task, where total is the number of definitions, or 1 when there are none.
template <class Definition, class Result>
void measureEach(QThreadPool& workers, const std::vector<Definition>& definitions,
                 std::function<Result(const Definition&)> measure, const std::function<void(Result, double)>& deliver) {
    const double total = definitions.empty() ? 1.0 : double(definitions.size());
    int done = 0; // only this coordinating task counts
    // Shared with the children, which may outlive this frame by a moment after
    // their push.
    auto results = std::make_shared<Async::CompletionQueue<Result>>();
    auto sharedMeasure = std::make_shared<const std::function<Result(const Definition&)>>(std::move(measure));
    for (const auto& definition : definitions)
        Async::start(
            workers, [results, sharedMeasure, definition] { results->push((*sharedMeasure)(definition)); },
            utilityPriority);
    for (size_t i = 0; i < definitions.size(); ++i) {
        Result result = results->pop();
        deliver(std::move(result), double(++done) / total);
    }
}

} // namespace vessora
