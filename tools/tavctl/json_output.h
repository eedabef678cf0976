// tavctl's JSON: one library (nlohmann's) for every document the tool prints
// and the panel answers. Each document goes out as one line (JSON Lines);
// text that is not UTF-8 is replaced rather than refused.
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>

#include "tool.h"

namespace tavctl {

using Json = nlohmann::ordered_json; // keys in the order the manual gives them

// Every board pin's commanded state, as `status --format json` and the panel give it.
Json PinsJson(const Session& session);
// One board pin's, an element of that array.
Json PinJson(const Session& session, uint32_t boardPin);
// The boards on the USB bus (every device with all), as `list --format json` and the panel give them.
Json BoardsJson(bool all);
// One device of tav_list, as list prints it in JSON and in text (without
// whether it can be opened or the library).
Json DeviceJson(const tav_device& device);
std::string DeviceText(const tav_device& device);

inline std::string JsonLine(const Json& document)
{
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

inline void PrintJson(const Json& document)
{
    std::printf("%s\n", JsonLine(document).c_str());
}

} // namespace tavctl
