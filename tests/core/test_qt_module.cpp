// The Qt module's loader called from several threads at once: one attempt,
// the same outcome in every thread, and never a module with an entry point
// missing. tarvo_tests runs where the module is not (build/tests), so each
// thread gets the same reason; the copy built beside the module (build/cli)
// gets the same loaded module in each.
#include "platform/QtModule.h"

#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(QtModuleLoader, ThreadsAtOnceGetOneOutcome)
{
    constexpr int kThreads = 8;
    std::vector<const tarvo::QtModule*> modules(kThreads, nullptr);
    std::vector<std::string> why(kThreads);
    std::vector<tarvo::QtModule> seen(kThreads);  // the entry points as each thread found them
    {
        std::latch start(kThreads);
        std::vector<std::jthread> threads;
        for (int i = 0; i < kThreads; ++i)
            threads.emplace_back([&, i] {
                start.arrive_and_wait();
                modules[i] = tarvo::LoadQtModule(why[i]);
                if (modules[i])
                    seen[i] = *modules[i];
            });
    }
#ifdef TARVO_BESIDE_QT_MODULE
    ASSERT_NE(modules[0], nullptr) << why[0];
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_NE(seen[i].createSound, nullptr) << i;
        EXPECT_NE(seen[i].writeMeterPng, nullptr) << i;
        EXPECT_NE(seen[i].writeMeterReport, nullptr) << i;
        EXPECT_NE(seen[i].writeBatchReport, nullptr) << i;
    }
#else
    EXPECT_EQ(modules[0], nullptr);
    EXPECT_NE(why[0].find(tarvo::kQtModuleFile), std::string::npos) << why[0];
#endif
    for (int i = 1; i < kThreads; ++i) {
        EXPECT_EQ(modules[i], modules[0]) << i;
        EXPECT_EQ(why[i], why[0]) << i;
    }
    // A later call, after the attempt, gives the same again.
    std::string later;
    EXPECT_EQ(tarvo::LoadQtModule(later), modules[0]);
    EXPECT_EQ(later, why[0]);
}

}  // namespace
