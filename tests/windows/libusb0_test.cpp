// tav.dll's real USB path on Windows: libusb0.dll loaded at run time, here the
// stand-in built beside the tests (bin/standin/libusb0.dll), which answers
// with libusb-win32's layout, names and error numbers. Without it (the
// WithoutLibusb0 cases run in a process of their own) USB finds nothing and
// virtual boards still work.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TAVLib.h"
#include "tav/tav.h"

using TAVDll::TAVLib;

namespace {

constexpr uint32_t P4_8 = 0x40000100;
constexpr int INIT_RECORDS = 61;

// The stand-in's control functions, from the copy tav.dll loaded.
struct Standin {
    void (*reset)(void);
    int (*addBoard)(char model);
    int (*failWrite)(int index, int writeNumber, int timeout);
    int (*unplugAtWrite)(int index, int writeNumber);
    int (*writeAttempts)(int index);
    int (*records)(int index, unsigned char* records, int maxRecords);
    int (*openHandles)(void);
};

template <typename Function>
void Resolve(HMODULE module, const char* name, Function* function)
{
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    ASSERT_NE(*function, nullptr) << name;
}

class Libusb0 : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Where the stand-in lies: bin/standin beside this program.
        wchar_t path[MAX_PATH];
        const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        ASSERT_GT(length, 0u);
        std::wstring folder(path, length);
        folder = folder.substr(0, folder.find_last_of(L"\\/")) + L"\\standin";
        ASSERT_NE(AddDllDirectory(folder.c_str()), nullptr);
        // The first enumeration makes tav.dll load it.
        TAVLib::Initial();
        HMODULE module = GetModuleHandleA("libusb0.dll");
        ASSERT_NE(module, nullptr) << "tav.dll did not load the stand-in libusb0.dll";
        Resolve(module, "standin_reset", &standin.reset);
        Resolve(module, "standin_add_board", &standin.addBoard);
        Resolve(module, "standin_fail_write", &standin.failWrite);
        Resolve(module, "standin_unplug_at_write", &standin.unplugAtWrite);
        Resolve(module, "standin_write_attempts", &standin.writeAttempts);
        Resolve(module, "standin_records", &standin.records);
        Resolve(module, "standin_open_handles", &standin.openHandles);
    }

    void SetUp() override
    {
        ASSERT_NE(standin.reset, nullptr);
        TAVLib::Close();
        standin.reset();
    }

    void TearDown() override { TAVLib::Close(); }

    // A board of each model given, then Initial() and Open() on the first.
    void OpenBoards(const char* models)
    {
        for (const char* model = models; *model != '\0'; ++model)
            standin.addBoard(*model);
        TAVLib::Initial();
        ASSERT_NE(TAVLib::Open(), nullptr);
    }

    static std::vector<unsigned char> Records(int index)
    {
        std::vector<unsigned char> bytes(64 * 512);
        const int count = standin.records(index, bytes.data(), 512);
        bytes.resize(64 * static_cast<size_t>(count < 0 ? 0 : count));
        return bytes;
    }

    static Standin standin;
};

Standin Libusb0::standin{};

TEST_F(Libusb0, TheStaticInterfaceDrivesABoard)
{
    ASSERT_EQ(tav_usb_problem(), nullptr);
    OpenBoards("T");
    EXPECT_EQ(TAVLib::InitTav(0), 0);
    EXPECT_EQ(TAVLib::Pin_DirOutput(P4_8), 0);
    EXPECT_EQ(TAVLib::Pin_Set(P4_8), 0);
    const std::vector<unsigned char> records = Records(0);
    ASSERT_EQ(records.size(), 64u * (INIT_RECORDS + 2));
    EXPECT_EQ(records[64 * (INIT_RECORDS + 1)], TAVDll::CLASS_GPIO);
    EXPECT_EQ(records[64 * (INIT_RECORDS + 1) + 1], TAVDll::GPIO_OP_SET_BITS);
    EXPECT_EQ(TAVLib::RequestBoardInfo(), 0);
    char version[16];
    TAVLib::GetVersion(version, sizeof version);
    EXPECT_STREQ(version, "1.0.2.13");
    EXPECT_EQ(TAVLib::Close(), 0);
    EXPECT_EQ(standin.openHandles(), 0);
}

// libusb-win32 lists every device on bus-0, numbered from 1.
TEST_F(Libusb0, SelectorsNameTheBoardsAsTheDriverNumbersThem)
{
    standin.addBoard('T');
    standin.addBoard('S');
    tav_board* second = nullptr;
    ASSERT_EQ(tav_open("usb:0:2", &second), TAV_OK);
    EXPECT_EQ(tav_model(second), 'S');
    tav_board* first = nullptr;
    ASSERT_EQ(tav_open("0:1", &first), TAV_OK);
    EXPECT_EQ(tav_model(first), 'T');
    tav_board* none = nullptr;
    EXPECT_EQ(tav_open("usb:0:3", &none), TAV_E_NOT_FOUND);
    EXPECT_EQ(tav_open("usb:1:1", &none), TAV_E_NOT_FOUND);
    EXPECT_EQ(tav_open("usb:0:1", &none), TAV_E_ACCESS); // claimed by first

    // Two boards at once, each with its own records.
    EXPECT_EQ(tav_pin_output(first, P4_8), TAV_OK);
    EXPECT_EQ(tav_pwm_stop(second), TAV_OK);
    EXPECT_EQ(Records(0).size(), 64u * 2);  // the board-information request, the pin
    EXPECT_EQ(Records(1).size(), 64u * 27); // the request, DisablePWM
    tav_release(first);
    tav_release(second);
    EXPECT_EQ(standin.openHandles(), 0);

    tav_board* firstBoard = nullptr;
    ASSERT_EQ(tav_open("", &firstBoard), TAV_OK);
    EXPECT_EQ(tav_model(firstBoard), 'T');
    tav_close(firstBoard);
}

// A time-out (libusb-win32's -116) ends the operation: one time-out per
// call, not one per record.
TEST_F(Libusb0, ATimeOutEndsTheOperation)
{
    OpenBoards("T");
    standin.failWrite(0, 5, 1);
    EXPECT_EQ(TAVLib::InitTav(0), TAVDll::RESULT_IO_FAILED);
    EXPECT_EQ(standin.writeAttempts(0), 5);
    EXPECT_EQ(TAVLib::Pin_Set(P4_8), 0); // the board is still open
}

// libusb-win32 reports a one-off failure and a vanished board alike (-EIO):
// the device still opens, so the operation goes on with the rest.
TEST_F(Libusb0, AnErrorOnABoardThatIsStillThereDoesNotStopTheRest)
{
    OpenBoards("T");
    standin.failWrite(0, 5, 0);
    EXPECT_EQ(TAVLib::InitTav(0), TAVDll::RESULT_IO_FAILED);
    EXPECT_EQ(standin.writeAttempts(0), INIT_RECORDS);
    EXPECT_EQ(TAVLib::Pin_Set(P4_8), 0);
}

// A board that is gone no longer opens: the library lets it go, and later
// calls say that no board is open.
TEST_F(Libusb0, ABoardThatIsGoneIsLetGo)
{
    OpenBoards("T");
    standin.unplugAtWrite(0, 5);
    EXPECT_EQ(TAVLib::InitTav(0), TAVDll::RESULT_IO_FAILED);
    EXPECT_EQ(standin.writeAttempts(0), 5);
    EXPECT_EQ(standin.openHandles(), 0);
    EXPECT_EQ(TAVLib::Pin_Set(P4_8), TAVDll::RESULT_NOT_OPEN);
    EXPECT_EQ(TAVLib::DisablePWM(), TAVDll::RESULT_NOT_OPEN);
    TAVLib::Initial();
    EXPECT_EQ(TAVLib::Open(), nullptr);
}

// No libusb0.dll anywhere: tav.dll loads, USB shows nothing and says why,
// virtual boards work.
TEST(WithoutLibusb0, UsbFindsNothingAndSaysWhyVirtualBoardsWork)
{
    const char* problem = tav_usb_problem();
    ASSERT_NE(problem, nullptr);
    EXPECT_NE(std::strstr(problem, "libusb-win32"), nullptr) << problem;
    TAVLib::Initial();
    EXPECT_EQ(TAVLib::Open(), nullptr);
    EXPECT_EQ(TAVLib::Pin_Set(P4_8), TAVDll::RESULT_NOT_OPEN);
    tav_board* board = nullptr;
    EXPECT_EQ(tav_open("", &board), TAV_E_NOT_FOUND);
    EXPECT_EQ(tav_open("usb:0:1", &board), TAV_E_NOT_FOUND);
    ASSERT_EQ(tav_open("sim:S", &board), TAV_OK);
    EXPECT_EQ(tav_pin_output(board, P4_8), TAV_OK);
    tav_close(board);
    EXPECT_EQ(GetModuleHandleA("libusb0.dll"), nullptr);
}

} // namespace
