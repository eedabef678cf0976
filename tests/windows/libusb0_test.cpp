// tav.dll's real USB paths on Windows: libusb0.dll and libusb-1.0.dll loaded
// at run time, here the stand-ins built beside the tests (bin/standin/),
// which answer with each library's layout, names and error numbers. Without
// them (the WithoutLibusb0 cases run in a process of their own) USB finds
// nothing and virtual boards still work; OpenBeforeInitial too has a process
// of its own, as an application that loaded libusb0.dll itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
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
    int (*unplug)(int index);
    long (*frames)(int index);
};

// Where the stand-ins lie: bin/standin beside this program.
std::wstring StandinFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/")) + L"\\standin";
}

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
        ASSERT_NE(AddDllDirectory(StandinFolder().c_str()), nullptr);
        // The first enumeration makes tav.dll load both.
        TAVLib::Initial();
        tav_device devices[1];
        tav_list(devices, 1, 0);
        ResolveStandin("libusb0.dll", &standin);
        ResolveStandin("libusb-1.0.dll", &standin1);
        HMODULE libusb0 = GetModuleHandleA("libusb0.dll");
        ASSERT_NE(libusb0, nullptr);
        Resolve(libusb0, "standin_stale_opens", &staleOpens);
        HMODULE libusb1 = GetModuleHandleA("libusb-1.0.dll");
        ASSERT_NE(libusb1, nullptr);
        Resolve(libusb1, "standin_set_unreachable", &setUnreachable);
        Resolve(libusb1, "standin_hotplug_events", &hotplugEvents);
    }

    static void ResolveStandin(const char* dll, Standin* functions)
    {
        HMODULE module = GetModuleHandleA(dll);
        ASSERT_NE(module, nullptr) << "tav.dll did not load the stand-in " << dll;
        Resolve(module, "standin_reset", &functions->reset);
        Resolve(module, "standin_add_board", &functions->addBoard);
        Resolve(module, "standin_fail_write", &functions->failWrite);
        Resolve(module, "standin_unplug_at_write", &functions->unplugAtWrite);
        Resolve(module, "standin_write_attempts", &functions->writeAttempts);
        Resolve(module, "standin_records", &functions->records);
        Resolve(module, "standin_open_handles", &functions->openHandles);
        Resolve(module, "standin_unplug", &functions->unplug);
        Resolve(module, "standin_frames", &functions->frames);
    }

    void SetUp() override
    {
        ASSERT_NE(standin.reset, nullptr);
        ASSERT_NE(standin1.reset, nullptr);
        TAVLib::Close();
        standin.reset();
        standin1.reset();
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

    static std::vector<unsigned char> Records(int index, const Standin& from = standin)
    {
        std::vector<unsigned char> bytes(64 * 512);
        const int count = from.records(index, bytes.data(), 512);
        bytes.resize(64 * static_cast<size_t>(count < 0 ? 0 : count));
        return bytes;
    }

    static Standin standin;  // libusb0.dll's
    static Standin standin1; // libusb-1.0.dll's
    static int (*staleOpens)(void);
    static int (*setUnreachable)(int index);
    static void (*hotplugEvents)(int on);
};

Standin Libusb0::standin{};
Standin Libusb0::standin1{};
int (*Libusb0::staleOpens)(void) = nullptr;
int (*Libusb0::setUnreachable)(int index) = nullptr;
void (*Libusb0::hotplugEvents)(int on) = nullptr;

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

// A board that went away while another board object enumerated the bus:
// libusb-win32 has freed its usb_device by then, so the check after the
// failed transfer must find the board by its driver name, never through the
// usb_device* of its open.
TEST_F(Libusb0, ABoardGoneWhileAnotherIsOpenedIsLetGoWithoutItsOldDevice)
{
    standin.addBoard('T');
    standin.addBoard('S');
    tav_board* first = nullptr;
    ASSERT_EQ(tav_open("usb:0:1", &first), TAV_OK);
    const int staleBefore = staleOpens();
    standin.unplug(0);
    tav_board* second = nullptr;
    ASSERT_EQ(tav_open("usb:0:2", &second), TAV_OK); // enumerates: the first board's device is forgotten
    EXPECT_EQ(tav_pin_set(first, P4_8), TAV_IO_FAILED);
    EXPECT_EQ(staleOpens(), staleBefore);
    EXPECT_EQ(tav_pwm_stop(first), TAV_NOT_OPEN); // let go
    EXPECT_EQ(tav_pwm_stop(second), TAV_OK);
    tav_release(first);
    tav_release(second);
    EXPECT_EQ(standin.openHandles(), 0);
}

// Boards bound to WinUSB or libusbK, through libusb-1.0.dll, beside those
// of libusb-win32: each listed with the library that reaches it, and each
// opened with the selector listed.
TEST_F(Libusb0, BoardsOfBothLibrariesAreListedAndOpenedAsListed)
{
    standin.addBoard('T');
    standin1.addBoard('S');
    standin1.addBoard('C');
    tav_device devices[4];
    ASSERT_EQ(tav_list(devices, 4, 0), 3);
    const char* const libraries[] = {"libusb-win32", "libusb-1.0", "libusb-1.0"};
    const char* const selectors[] = {"usb:000:001", "usb:001:001", "usb:001:002"};
    const char models[] = {'T', 'S', 'C'};
    for (int index = 0; index < 3; ++index) {
        EXPECT_STREQ(devices[index].library, libraries[index]);
        EXPECT_STREQ(devices[index].selector, selectors[index]);
        EXPECT_EQ(devices[index].openable, 1);
        EXPECT_EQ(devices[index].model, models[index]);
        tav_board* board = nullptr;
        ASSERT_EQ(tav_open(devices[index].selector, &board), TAV_OK) << devices[index].selector;
        EXPECT_EQ(tav_model(board), models[index]);
        tav_close(board);
    }
    // The first board: libusb-win32's first, then libusb-1.0's.
    tav_board* board = nullptr;
    ASSERT_EQ(tav_open("", &board), TAV_OK);
    EXPECT_EQ(tav_model(board), 'T');
    tav_board* next = nullptr;
    ASSERT_EQ(tav_open("queued:", &next), TAV_E_ACCESS); // the first board is the one meant, held
    tav_release(board);
    EXPECT_EQ(standin.openHandles() + standin1.openHandles(), 0);
    EXPECT_EQ(tav_usb_problem(), nullptr);
    EXPECT_EQ(std::strstr(tav_usb_libraries(), "not found"), nullptr) << tav_usb_libraries();
}

// Where libusb-1.0 hears of no arrival, a board plugged in while another
// queued board is open is still found: a look that finds nothing looks again.
TEST_F(Libusb0, ABoardPluggedInWhileAQueuedOneIsOpenIsFoundWithoutHotplugEvents)
{
    ASSERT_NE(hotplugEvents, nullptr);
    hotplugEvents(0);
    standin1.addBoard('T');
    tav_board* first = nullptr;
    ASSERT_EQ(tav_open("queued:usb:1:1", &first), TAV_OK);
    standin1.addBoard('S');
    tav_board* second = nullptr;
    ASSERT_EQ(tav_open("queued:usb:1:2", &second), TAV_OK);
    EXPECT_EQ(tav_model(second), 'S');
    EXPECT_EQ(tav_init(first, 0), TAV_OK); // both work on, each in its own context
    EXPECT_EQ(tav_init(second, 0), TAV_OK);
    tav_close(first);
    EXPECT_EQ(tav_pin_output(second, TAV_P4(8)), TAV_OK);
    tav_close(second);
    EXPECT_EQ(standin1.openHandles(), 0);
}

// A board libusb-1.0 lists but whose driver neither library reaches: the
// library says so.
TEST_F(Libusb0, ABoardBoundToADriverNeitherLibraryReachesIsNamed)
{
    standin1.addBoard('T');
    setUnreachable(0);
    tav_board* board = nullptr;
    EXPECT_EQ(tav_open("", &board), TAV_E_ACCESS);
    const char* problem = tav_usb_problem();
    ASSERT_NE(problem, nullptr);
    EXPECT_NE(std::strstr(problem, "WinUSB"), nullptr) << problem;
    tav_device devices[2];
    ASSERT_EQ(tav_list(devices, 2, 0), 1);
    EXPECT_EQ(devices[0].openable, 0);
}

// Watching polls both libraries: the boards there first, then a board
// leaving libusb-win32's bus and one arriving on libusb-1.0's.
TEST_F(Libusb0, WatchingSeesBoardsOfBothLibrariesComeAndGo)
{
    standin.addBoard('T');
    struct Seen {
        std::mutex mutex;
        std::vector<std::string> lines;
    } seen;
    tav_watcher* watcher = nullptr;
    ASSERT_EQ(tav_watch(
                  [](const tav_event* event, void* user) {
                      auto* state = static_cast<Seen*>(user);
                      std::lock_guard<std::mutex> lock(state->mutex);
                      state->lines.push_back(std::string(event->kind == TAV_EVENT_ARRIVED ? "arrived " : "left ")
                                             + event->device->selector + " " + event->device->library);
                  },
                  &seen, 10, &watcher),
              TAV_OK);
    auto waitFor = [&seen](size_t count) {
        for (int tries = 0; tries < 500; ++tries) {
            {
                std::lock_guard<std::mutex> lock(seen.mutex);
                if (seen.lines.size() >= count)
                    return seen.lines;
            }
            Sleep(10);
        }
        std::lock_guard<std::mutex> lock(seen.mutex);
        return seen.lines;
    };
    EXPECT_EQ(waitFor(1), (std::vector<std::string>{"arrived usb:000:001 libusb-win32"}));
    standin.unplug(0);
    EXPECT_EQ(waitFor(2).back(), "left usb:000:001 libusb-win32");
    standin1.addBoard('S');
    EXPECT_EQ(waitFor(3).back(), "arrived usb:001:001 libusb-1.0");
    tav_unwatch(watcher);
    EXPECT_EQ(seen.lines.size(), 3u);
}

// Both libraries, one by one (sync:) and queued (a board object's default):
// the same records, and the rules of
// a failed transfer (an error goes on, a time-out ends the operation, a
// board gone is let go) wherever the fault falls in tav_init's 61 records,
// queued or not.
struct Path {
    const char* name;
    const char* selector;
    bool libusb1;
};

class Libusb0Paths : public Libusb0, public ::testing::WithParamInterface<Path> {
protected:
    const Standin& Library() const { return GetParam().libusb1 ? standin1 : standin; }
};

TEST_P(Libusb0Paths, FaultsAnywhereInAnOperationFollowTheTransferRules)
{
    enum Fault { Error, Timeout, Unplug };
    for (Fault fault : {Error, Timeout, Unplug}) {
        for (int position : {1, 2, 19, 20, 40, 61}) {
            SetUp();
            Library().addBoard('T');
            tav_board* board = nullptr;
            ASSERT_EQ(tav_open(GetParam().selector, &board), TAV_OK);
            const int before = Library().writeAttempts(0); // the board-information request
            if (fault == Unplug)
                Library().unplugAtWrite(0, before + position);
            else
                Library().failWrite(0, before + position, fault == Timeout ? 1 : 0);
            EXPECT_EQ(tav_init(board, 0), TAV_IO_FAILED) << fault << " at " << position;
            EXPECT_EQ(Library().writeAttempts(0) - before, fault == Error ? INIT_RECORDS : position)
                << fault << " at " << position;
            EXPECT_EQ(Records(0, Library()).size(), 64u * (1 + position - 1 + (fault == Error ? INIT_RECORDS - position : 0)))
                << fault << " at " << position;
            EXPECT_EQ(tav_pwm_stop(board), fault == Unplug ? TAV_NOT_OPEN : TAV_OK) << fault << " at " << position;
            tav_release(board);
            EXPECT_EQ(Library().openHandles(), 0);
        }
    }
}

TEST_P(Libusb0Paths, QueuedOperationsUseTheFramesTheirRecordsNeed)
{
    Library().addBoard('T');
    tav_board* board = nullptr;
    ASSERT_EQ(tav_open(GetParam().selector, &board), TAV_OK);
    const long before = Library().frames(0);
    ASSERT_EQ(tav_init(board, 0), TAV_OK);
    const long used = Library().frames(0) - before;
    const bool queued = std::strncmp(GetParam().selector, "sync:", 5) != 0;
    EXPECT_EQ(used, queued ? (INIT_RECORDS + 18) / 19 : INIT_RECORDS);
    EXPECT_EQ(Records(0, Library()).size(), 64u * (1 + INIT_RECORDS));
    tav_close(board);
}

INSTANTIATE_TEST_SUITE_P(Both, Libusb0Paths,
                         ::testing::Values(Path{"Libusb0", "sync:usb:0:1", false}, Path{"Libusb0Queued", "usb:0:1", false},
                                           Path{"Libusb1", "sync:usb:1:1", true}, Path{"Libusb1Queued", "usb:1:1", true}),
                         [](const ::testing::TestParamInfo<Path>& info) { return std::string(info.param.name); });

// An application that loaded libusb0.dll and enumerated the bus itself,
// then Open() without Initial(): the board opens, as on Linux.
TEST(OpenBeforeInitial, OpensTheBoardTheApplicationEnumerated)
{
    ASSERT_NE(AddDllDirectory(StandinFolder().c_str()), nullptr);
    HMODULE module = LoadLibraryExA("libusb0.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    ASSERT_NE(module, nullptr);
    int (*addBoard)(char) = nullptr;
    void (*init)(void) = nullptr;
    int (*findBusses)(void) = nullptr;
    int (*findDevices)(void) = nullptr;
    Resolve(module, "standin_add_board", &addBoard);
    Resolve(module, "usb_init", &init);
    Resolve(module, "usb_find_busses", &findBusses);
    Resolve(module, "usb_find_devices", &findDevices);
    addBoard('S');
    init();
    findBusses();
    findDevices();
    ASSERT_NE(TAVLib::Open(), nullptr);
    EXPECT_EQ(TAVLib::RequestBoardInfo(), 0);
    EXPECT_EQ(TAVLib::GetType(), TAVDll::BOARD_S);
    EXPECT_EQ(TAVLib::Close(), 0);
}

// No libusb0.dll anywhere: tav.dll loads, USB shows nothing and says why,
// virtual boards work.
TEST(WithoutLibusb0, UsbFindsNothingAndSaysWhyVirtualBoardsWork)
{
    const char* problem = tav_usb_problem();
    ASSERT_NE(problem, nullptr);
    EXPECT_NE(std::strstr(problem, "libusb-win32"), nullptr) << problem;
    EXPECT_NE(std::strstr(problem, "WinUSB"), nullptr) << problem;
    EXPECT_STREQ(tav_usb_libraries(), "libusb0.dll (libusb-win32 boards) not found, libusb-1.0.dll (WinUSB and "
                                      "libusbK boards) not found");
    TAVLib::Initial();
    EXPECT_EQ(TAVLib::Open(), nullptr);
    EXPECT_EQ(TAVLib::Pin_Set(P4_8), TAVDll::RESULT_NOT_OPEN);
    tav_board* board = nullptr;
    EXPECT_EQ(tav_open("", &board), TAV_E_NOT_FOUND);
    EXPECT_EQ(tav_open("usb:0:1", &board), TAV_E_NOT_FOUND);
    ASSERT_NE(tav_open_problem(), nullptr); // every front end can say why
    EXPECT_STREQ(tav_open_problem(), problem);
    ASSERT_EQ(tav_open("sim:S", &board), TAV_OK);
    EXPECT_EQ(tav_pin_output(board, P4_8), TAV_OK);
    tav_close(board);
    EXPECT_EQ(GetModuleHandleA("libusb0.dll"), nullptr);
}

} // namespace

// libusb-1.0.dll there, libusb0.dll not: board objects find the board, the
// static functions (libusb 0.1's) cannot, and say why instead of a silent null.
TEST(OnlyLibusb1, TheStaticOpenSaysWhyItFindsNoBoard)
{
    wchar_t temporary[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, temporary), 0u);
    const std::wstring folder = std::wstring(temporary) + L"tav-only-libusb1-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((StandinFolder() + L"\\libusb-1.0.dll").c_str(), (folder + L"\\libusb-1.0.dll").c_str(), FALSE));
    ASSERT_NE(AddDllDirectory(folder.c_str()), nullptr);
    EXPECT_EQ(tav_usb_problem(), nullptr); // one library is enough to find boards
    using AddBoard = int (*)(char);
    HMODULE libusb1 = GetModuleHandleA("libusb-1.0.dll");
    ASSERT_NE(libusb1, nullptr);
    AddBoard addBoard = nullptr;
    Resolve(libusb1, "standin_add_board", &addBoard);
    ASSERT_EQ(addBoard('T'), 0);
    tav_board* board = nullptr;
    ASSERT_EQ(tav_open("", &board), TAV_OK); // the board object reaches it
    tav_release(board);
    TAVLib::Initial();
    EXPECT_EQ(TAVLib::Open(), nullptr);
    const char* problem = tav_usb_problem();
    ASSERT_NE(problem, nullptr);
    EXPECT_NE(std::strstr(problem, "the static TAVLib functions reach boards through libusb0.dll"), nullptr) << problem;
    EXPECT_EQ(GetModuleHandleA("libusb0.dll"), nullptr);
}
