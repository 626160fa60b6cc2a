#pragma once

#include <cstdint>

// Ctrl-C and SIGTERM for the front ends. Block them before any thread starts
// (threads inherit the mask), then wait for them where it suits the caller.
void BlockStopSignals();
// Waits up to timeoutMs; answers the signal number that came, or 0.
int WaitForStopSignal(std::uint32_t timeoutMs);
