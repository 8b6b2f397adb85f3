#include "application.h"
#include "program_arguments.h"
#include "single_instance_guard.h"

#include <csignal>
#include <cstdio>

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
    return lumivox::app::runApplication();
}
