#include "application.h"
#include "single_instance_guard.h"

namespace {
// Made before main runs and kept for the life of the process: the name marks this copy as running.
const lumivox::app::SingleInstanceGuard instanceGuard;
}

int main()
{
    if (instanceGuard.anotherInstanceRunning())
        return 0;
    return lumivox::app::runApplication();
}
