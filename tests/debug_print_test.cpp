// Debug output: standard error only when TAV_DEBUG asks for it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

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

#if defined(_WIN32)
// OutputDebugStringA raises DBG_PRINTEXCEPTION_C with the text for a
// debugger; a vectored handler sees it first.
std::string debuggerText;

LONG CALLBACK SeeDebuggerOutput(EXCEPTION_POINTERS* exception)
{
    const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
    if (record.ExceptionCode == DBG_PRINTEXCEPTION_C && record.NumberParameters >= 2)
        debuggerText += reinterpret_cast<const char*>(record.ExceptionInformation[1]);
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST(DebugPrint, GoesToTheDebuggerOnWindowsWithOrWithoutTavDebug)
{
    void* handler = AddVectoredExceptionHandler(1, SeeDebuggerOutput);
    ASSERT_NE(handler, nullptr);
    for (const char* setting : {"", "1"}) {
        tavtest::SetEnvironment("TAV_DEBUG", setting);
        debuggerText.clear();
        const std::string err = tavtest::CaptureStderr([] { DebugPrint("open good"); });
        EXPECT_EQ(debuggerText, "open good") << setting;
        EXPECT_EQ(err, setting[0] != '\0' ? "open good\n" : "") << setting;
    }
    tavtest::UnsetEnvironment("TAV_DEBUG");
    RemoveVectoredExceptionHandler(handler);
}
#endif

} // namespace
