// Debug output: standard error only when TAV_DEBUG asks for it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "board_fixture.h"
#include "link/debug_print.h"

using TAVDll::detail::DebugPrint;

namespace {

TEST(DebugPrint, FollowsTavDebug)
{
    struct Case {
        const char* value; // null: unset
        bool shown;
    };
    const Case cases[] = {{nullptr, false}, {"", false}, {"0", false}, {"1", true}, {"yes", true}, {"00", true}};
    for (const Case& entry : cases) {
        if (entry.value != nullptr)
            tavtest::SetEnvironment("TAV_DEBUG", entry.value);
        else
            tavtest::UnsetEnvironment("TAV_DEBUG");
        std::string out;
        const std::string err = tavtest::CaptureStderr(
            [&] { out = tavtest::CaptureStdout([] { DebugPrint("add failed"); }); });
        EXPECT_EQ(out, "");
        EXPECT_EQ(err, entry.shown ? "add failed\n" : "") << (entry.value ? entry.value : "(unset)");
    }
    tavtest::UnsetEnvironment("TAV_DEBUG");
}

TEST(DebugPrint, LongTextIsCutTo4095Characters)
{
    tavtest::SetEnvironment("TAV_DEBUG", "1");
    const std::string text(5000, 'x');
    const std::string err = tavtest::CaptureStderr([&] { DebugPrint("%s", text.c_str()); });
    tavtest::UnsetEnvironment("TAV_DEBUG");
    EXPECT_EQ(err, std::string(4095, 'x') + "\n");
}

} // namespace
