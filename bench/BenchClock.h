#pragma once

#include <ctime>

// Processor time of the whole process, so that a figure per core does not depend on how busy
// the rest of the machine was.
inline double cpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}
