// A virtual board's history as a waveform file: VCD for sigrok and GTKWave,
// SVG for a page.
#include <fstream>
#include <string>

#include "capi/board_object.h"
#include "waveform/waveform.h"

using namespace TAVDll;
using namespace TAVDll::detail;

namespace {

int WriteWaveform(const tav_board* board, const char* path, std::string (*render)(const tavmodel::BoardModel&,
                                                                                    const tavmodel::WaveformOptions&))
{
    if (path == nullptr)
        return TAV_E_INVALID;
    return OnBoard(const_cast<tav_board*>(board), [&](BoardLink&) {
        if (board->SimulatedModel() == nullptr)
            return TAV_E_NOT_VIRTUAL;
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << render(*board->SimulatedModel(), tavmodel::WaveformOptions{});
        file.close();
        return file ? TAV_OK : static_cast<int>(RESULT_IO_FAILED);
    });
}

} // namespace

extern "C" {

int tav_sim_write_vcd(const tav_board* board, const char* path)
{
    return WriteWaveform(board, path, tavmodel::RenderVcd);
}

int tav_sim_write_svg(const tav_board* board, const char* path)
{
    return WriteWaveform(board, path, tavmodel::RenderSvg);
}

} // extern "C"
