// The debug sink: texts from several threads arrive whole, and a restored sink gets no more.
#include "platform/debug_sink.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace kem::platform;

TEST(DebugSinkTest, AnInstalledSinkReceivesEveryTextWhole) {
    std::vector<std::string> seen;
    auto previous = SetDebugSink([&](std::string_view text) { seen.emplace_back(text); });
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < 100; ++i) {
                DebugOutput("line " + std::to_string(t) + "-" + std::to_string(i) + "\n");
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    SetDebugSink(previous);
    ASSERT_EQ(seen.size(), 400u);
    for (const auto& text : seen) {
        EXPECT_EQ(text.rfind("line ", 0), 0u) << text;
        EXPECT_EQ(text.back(), '\n');
    }
    DebugOutput("after restore\n");
    EXPECT_EQ(seen.size(), 400u);
}
