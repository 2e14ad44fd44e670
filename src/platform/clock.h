// The clocks the tool reads: elapsed time, and the processor time spent by
// a thread and by the whole machine.
#pragma once

#include <chrono>

namespace platform {

// The time on a clock that only moves forward.
std::chrono::steady_clock::time_point Now();
// Processor time the calling thread has used.
std::chrono::nanoseconds ThreadCpuTime();
// Time the machine's processors have been busy, summed over them all and
// over every process: what decides whether more threads could run at all.
// Where the system does not tell, the time this process has used.
std::chrono::nanoseconds BusyProcessorTime();

}  // namespace platform
