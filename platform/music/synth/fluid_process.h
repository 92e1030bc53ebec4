// What FluidSynth needs once per process, before its first synthesizer.
#pragma once

namespace orvan::music::synth {

// Silences FluidSynth's log (the platform reports failures through status codes) and
// initialises libinstpatch, FluidSynth's DLS reader, for the rest of the process. FluidSynth
// initialises that library with each synthesizer and closes it with the last one, and every
// initialisation after a close leaks a little: without our own lasting reference, a process
// that goes from no channel to one again and again would grow each time. Client threads
// only; cheap after the first call.
void prepare_fluidsynth();

}  // namespace orvan::music::synth
