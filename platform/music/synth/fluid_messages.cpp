#include "platform/music/synth/fluid_messages.h"

#include <fluidsynth.h>

namespace orvan::music::synth {

void send_channel_message(fluid_synth_t* synth, std::uint8_t status, std::uint8_t data1,
                          std::uint8_t data2) noexcept {
  const int ch = status & 0x0F;
  switch (status & 0xF0) {
    case 0x80:
      fluid_synth_noteoff(synth, ch, data1);
      break;
    case 0x90:
      if (data2 == 0) {
        fluid_synth_noteoff(synth, ch, data1);
      } else {
        fluid_synth_noteon(synth, ch, data1, data2);
      }
      break;
    case 0xA0:
      fluid_synth_key_pressure(synth, ch, data1, data2);
      break;
    case 0xB0:
      fluid_synth_cc(synth, ch, data1, data2);
      break;
    case 0xC0:
      fluid_synth_program_change(synth, ch, data1);
      break;
    case 0xD0:
      fluid_synth_channel_pressure(synth, ch, data1);
      break;
    case 0xE0:
      fluid_synth_pitch_bend(synth, ch, data1 | (data2 << 7));
      break;
    default:
      break;
  }
}

void send_sysex(fluid_synth_t* synth, std::span<const std::uint8_t> bytes) noexcept {
  if (!bytes.empty() && bytes.front() == 0xF0) bytes = bytes.subspan(1);
  if (!bytes.empty() && bytes.back() == 0xF7) bytes = bytes.first(bytes.size() - 1);
  if (bytes.empty()) return;
  fluid_synth_sysex(synth, reinterpret_cast<const char*>(bytes.data()),
                    static_cast<int>(bytes.size()), nullptr, nullptr, nullptr, 0);
}

void select_reset_program(fluid_synth_t* synth, int channel) noexcept {
  // FluidSynth takes the drum channel's kit from its percussion bank whatever the bank.
  fluid_synth_bank_select(synth, channel, 0);
  fluid_synth_program_change(synth, channel, 0);
}

}  // namespace orvan::music::synth
