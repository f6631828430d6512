// The one thread that runs jobs in turn (toolkit/serial_worker.hpp) and the
// stop of a computation asked from another thread (toolkit/progress.hpp).
// Also run under ThreadSanitizer (scripts/test.sh).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "toolkit/progress.hpp"
#include "toolkit/serial_worker.hpp"

using namespace ocu;

TEST(SerialWorker, JobsRunOneAtATimeInTheOrderPostedFromManyThreads) {
    std::vector<int> order;  // only the worker writes it
    std::atomic<int> inside{0}, most{0};
    {
        SerialWorker w;
        EXPECT_FALSE(w.in_worker());
        std::vector<std::thread> posters;
        for (int t = 0; t < 4; ++t) {
            posters.emplace_back([&, t] {
                for (int i = 0; i < 50; ++i) {
                    w.post([&, t, i] {
                        const int now = ++inside;
                        most = std::max(most.load(), now);
                        EXPECT_TRUE(w.in_worker());
                        order.push_back(t * 1000 + i);
                        std::this_thread::yield();
                        --inside;
                    });
                }
            });
        }
        for (std::thread& p : posters) p.join();
        w.post([] { throw 1; });  // dropped; the worker goes on
        w.post([&] { order.push_back(-1); });
    }  // waits for everything posted
    EXPECT_EQ(most.load(), 1) << "no two jobs overlap";
    ASSERT_EQ(order.size(), 201u);
    EXPECT_EQ(order.back(), -1);
    // Each poster's jobs in the order it posted them.
    for (int t = 0; t < 4; ++t) {
        int last = -1;
        for (int v : order)
            if (v >= 0 && v / 1000 == t) {
                EXPECT_GT(v % 1000, last);
                last = v % 1000;
            }
        EXPECT_EQ(last, 49);
    }
}

TEST(Progress, AStopAskedFromAnotherThreadEndsTheWorkAtItsNextReport) {
    std::atomic<bool> stop{false};
    std::atomic<double> seen{-1};
    std::atomic<bool> stopped{false}, started{false};
    SerialWorker w;
    w.post([&] {
        const Progress p([&](double f) { seen = f; }, &stop);
        try {
            for (int i = 0;; ++i) {
                p.part(0.5, 1.0).at(0.5);  // reports 0.75 of the whole
                started = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        } catch (const Stopped&) {
            stopped = true;
        }
        p.unstoppable().at(1.0);  // past the point of stopping: reported, not stopped
    });
    while (!started) std::this_thread::yield();
    stop = true;
    while (w.pending() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(stopped);
    EXPECT_EQ(seen.load(), 1.0);
}
