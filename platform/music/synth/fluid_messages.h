// MIDI messages as FluidSynth takes them, shared by the synthesizer that renders and the one
// that works out which presets a piece selects, so that both see the same programs.
#pragma once

#include <cstdint>
#include <span>

struct _fluid_synth_t;

namespace orvan::music::synth {

// A channel message (status 0x80..0xEF) with its data bytes. Allocates nothing.
void send_channel_message(struct _fluid_synth_t* synth, std::uint8_t status, std::uint8_t data1,
                          std::uint8_t data2) noexcept;
// A system-exclusive message, with or without its F0/F7 framing. Allocates nothing.
void send_sysex(struct _fluid_synth_t* synth, std::span<const std::uint8_t> bytes) noexcept;
// The program a reset leaves on `channel`: program 0 of bank 0, or the kit on a drum
// channel, whatever bank FluidSynth keeps there.
void select_reset_program(struct _fluid_synth_t* synth, int channel) noexcept;

}  // namespace orvan::music::synth
