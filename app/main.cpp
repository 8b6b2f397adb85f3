#include "application.h"
#include "program_arguments.h"
#include "single_instance_guard.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {
// Made before main runs and kept for the life of the process: the name marks this copy as running.
const lumivox::app::SingleInstanceGuard instanceGuard(lumivox::app::instanceName());
}

int main(int argc, char** argv)
{
    if (const auto exitCode = lumivox::app::answerInformationRequest(argc, argv, stdout))
        return *exitCode;
    if (instanceGuard.anotherInstanceRunning())
        return lumivox::app::refuseSecondStart();
    // Past a file-size limit a write must fail with an error the job reports, not end the program
    // with a half-finished output file.
    std::signal(SIGXFSZ, SIG_IGN);
    // The engine's vector unit and path, chosen once here: LUMIVOX_VECTOR_UNIT pins a unit
    // (portable, sse2, avx2, avx512) and LUMIVOX_BLOCK_PATH=off runs frame by frame.
    return lumivox::app::runApplication(lumivox::engine::vectorChoiceFrom(
        std::getenv("LUMIVOX_VECTOR_UNIT"), std::getenv("LUMIVOX_BLOCK_PATH")));
}
