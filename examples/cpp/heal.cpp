// A board that heals: "reattach:" finds the board again after it was
// unplugged and sends what the program had set; tav::Watch reports the boards
// coming and going. On a virtual board (TAV_DEVICE=sim:T) the program unplugs
// and plugs it itself; on a real one, unplug it and plug it back.
//   c++ -std=c++17 heal.cpp $(pkg-config --cflags --libs tav) -o heal
#include <chrono>
#include <cstdio>
#include <thread>

#include <tav/board.hpp>

int main()
{
    using namespace std::chrono_literals;
    tav::Watch watching;
    watching.start(
        [](const tav_event& event) {
            std::printf("%s %s\n", event.kind == TAV_EVENT_ARRIVED ? "arrived" : "left",
                        event.device->selector[0] != '\0' ? event.device->selector : event.device->port);
        },
        50);
    tav::Board board;
    if (board.open("reattach:") != TAV_OK) {
        std::fprintf(stderr, "cannot open a board\n");
        return 1;
    }
    // Called on a thread of the library's; it may call the board's functions.
    tav_set_connection_callback(
        board.handle(),
        [](tav_board*, int connected, void*) { std::printf("board %s\n", connected ? "back: restored" : "left"); },
        nullptr);
    int result = board.init();
    if (result == TAV_OK)
        result = board.pinOutput(TAV_P4(8));
    if (result == TAV_OK)
        result = board.pinSet(TAV_P4(8));
    std::this_thread::sleep_for(300ms); // the watcher's first look
    if (board.sim().unplug() == TAV_OK) { // a virtual board: the test a program makes of itself
        std::this_thread::sleep_for(300ms);
        board.sim().plug();
    } else {
        std::printf("unplug the board and plug it back\n");
    }
    for (int waited = 0; waited < 600 && !board.connected(); ++waited)
        std::this_thread::sleep_for(100ms);
    tav_pin_state state{};
    if (result == TAV_OK && board.connected() && tav_pin_state_get(board.handle(), TAV_P4(8), &state) == TAV_OK)
        std::printf("P4.8 after the replug: %s\n", state.description);
    std::this_thread::sleep_for(300ms); // the watcher's next look
    return result == TAV_OK ? 0 : 1;
}
