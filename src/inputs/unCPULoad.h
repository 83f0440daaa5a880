#pragma once

namespace vx {

class CpuCounters;

// Processor load of this machine, sampled on demand; process-wide state, GUI thread only.
// Instances are the processors (0 = the first) followed by the total, their average.
// Failures raise Exception with the texts below.

// Takes one sample of every instance's idle time; raises "Unable to locate ..." when the
// system's counters lack the processors or their idle time. Less than 100 ms after the
// last sample nothing is read, so that the loads keep covering at least that long (and the
// counters are read ten times a second at most).
void TakeLoadSample();

// Busy share of instance index between the last two samples, nominally 0..1 (0 until a
// second sample); samples once itself if there is none; raises "CPU index out of bounds".
double GetProcessorLoad(int index);

// Number of instances (processors + the total), fixed by the first sample; -1 before it.
int CPUCount();

// Load of the total instance (the last one); samples once itself if there is none.
double GetTotalLoad();

// Installs counters (not owned) as the source and forgets every sample, as at program
// start; nullptr restores the system's counters. Returns the previous source (nullptr for
// the system's). For tests.
CpuCounters* SetCpuCounters(CpuCounters* counters);

}  // namespace vx
