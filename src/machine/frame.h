// The machine's clock: the Z80's hooks bound to the machine, the loop hook
// that turns T-states into scanlines, the frame interrupt, audio samples and
// tape samples, and the frame step.
//
// A host frame is cycle_period T-states (1/50 s); a video frame is
// linesPerFrame lines of 228 T-states. The loop hook completes each line (it
// is painted before anything it shows can change), takes the interrupt while
// the field sync holds /INT low and IFF1 is set, pushes one speaker sample
// every cyclesPerSample T-states (about 882 a frame, 44100 a second), advances
// a playing tape, and checks the breakpoint set, all as if it ran after every
// instruction; it runs only where there is work. The scanline counter runs on
// across host frames; nothing realigns the two clocks.
// While the debugger watches accesses or runs to a target (machine.debug),
// frames run a second instantiation of the loop that checks those as well.
#pragma once

#include <cstdint>

struct Machine;
struct MachineIo;

// Runs the rest of the host frame. Returns 1 when a breakpoint, a watchpoint or
// a run target stopped it (the next call continues the same frame; why is in
// machine.debug.stop), else 0. A breakpoint on the first instruction stops the
// run before it, unless the machine stopped there last (resuming).
uint8_t machine_run_frame(Machine& m, MachineIo& io);

// One instruction, as the debugger's Step: the loop hook runs as when running,
// and a spent slice is refilled. A HALT is stepped until the interrupt wakes
// the CPU or the slice ends. Returns 1 when a watchpoint was hit (in
// machine.debug.stop).
uint8_t machine_step(Machine& m, MachineIo& io);

// Flushes what must reach the files at the end of a frame (printer output).
void machine_flush_files(MachineIo& io);
