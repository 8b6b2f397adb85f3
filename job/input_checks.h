#pragma once

#include "mono_input.h"

#include <cstdint>
#include <string>

namespace lumivox::job {

// Only 8- and 16-bit PCM (plain or extensible) can be vocoded, at a rate whose byte rate a wave
// header can hold: a rate of 0 would give an output no reader opens.
[[nodiscard]] bool isVocodablePcm(const MonoInput& input);

// Why isVocodablePcm refused the input, in plain words: "24-bit samples", "32-bit float samples".
[[nodiscard]] std::string whyNotVocodable(const MonoInput& input);

} // namespace lumivox::job
