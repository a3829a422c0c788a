#pragma once

#include <ctime>

// The monotonic clock in nanoseconds: the same clock in every process, so that a child can
// report a moment that its parent compares with the moment it started the child.
inline long long monotonicNs()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}
