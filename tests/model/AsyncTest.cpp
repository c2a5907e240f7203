#include "ModelTestSupport.h"
#include "model/Async.h"
#include "model/MeasurementRun.h"

#include <QThread>

#include <future>
#include <thread>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vessora::test {
namespace {

TEST(MainQueue, RunsFunctionsFromManyThreadsInPostOrderOnItsOwnThreadAndDropsTheRestWhenGone) {
    Async::MainQueue queue;
    constexpr int threads = 4, perThread = 200;
    std::vector<std::vector<int>> seen(threads);
    bool allOnMain = true;
    int ran = 0;
    std::vector<std::thread> posters;
    for (int t = 0; t < threads; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i)
                queue.post([&, t, i] {
                    allOnMain = allOnMain && QThread::currentThread() == queue.thread();
                    seen[t].push_back(i);
                    ++ran;
                });
        });
    for (auto& poster : posters) poster.join();
    ASSERT_TRUE(waitUntil([&] { return ran == threads * perThread; }));
    EXPECT_TRUE(allOnMain);
    for (const auto& sequence : seen)
        for (int i = 0; i < perThread; ++i) EXPECT_EQ(sequence[size_t(i)], i);

    bool late = false;
    auto gone = std::make_unique<Async::MainQueue>();
    gone->post([&] { late = true; });
    gone.reset();
    spin(50);
    EXPECT_FALSE(late);
}

// A run publishes in the order its children finish, not in definition order,
// and its progress counts up by one finished definition at a time.
TEST(MeasureEach, DeliversInCompletionOrderWithProgressPerResult) {
    QThreadPool workers;
    workers.setMaxThreadCount(4);
    std::promise<void> othersDelivered;
    auto othersDone = othersDelivered.get_future().share();
    std::vector<std::pair<int, double>> delivered;
    std::thread coordinator([&] {
        measureEach<int, int>(
            workers, {0, 1, 2, 3},
            [othersDone](const int& definition) {
                if (definition == 0) othersDone.wait(); // the slow one
                return definition * 10;
            },
            [&](int result, double progress) {
                delivered.emplace_back(result, progress);
                if (delivered.size() == 3) othersDelivered.set_value();
            });
    });
    coordinator.join();
    ASSERT_EQ(delivered.size(), 4u);
    EXPECT_EQ(delivered.back().first, 0);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(delivered[i].second, double(i + 1) / 4.0);
    workers.waitForDone();
}

// Qt's thread priorities never reach the Linux scheduler: background jobs,
// and the threads they start (a scan's walkers), must lower their own nice
// value, and the main thread must keep its own.
TEST(BackgroundJobs, RunBelowTheMainThreadAndSoDoTheThreadsTheyStart) {
    auto niceOfThisThread = [] { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid))); };
    const int mainNice = niceOfThisThread();
    QThreadPool pool;
    std::promise<std::pair<int, int>> seen;
    Async::start(pool, [&] {
        int inner = 0;
        std::thread([&] { inner = niceOfThisThread(); }).join();
        seen.set_value({niceOfThisThread(), inner});
    });
    const auto [job, started] = seen.get_future().get();
    EXPECT_GE(job, 10);
    EXPECT_EQ(std::tuple(started, niceOfThisThread()), std::tuple(job, mainNice));
    pool.waitForDone();
}

} // namespace
} // namespace vessora::test
