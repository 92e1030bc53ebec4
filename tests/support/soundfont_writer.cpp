#include "tests/support/soundfont_writer.h"

#include <cmath>
#include <numbers>
#include <string_view>

namespace orvan::test {
namespace {

void u8(Bytes& out, std::uint8_t v) {
  out.push_back(v);
}
void u16(Bytes& out, std::uint16_t v) {
  u8(out, static_cast<std::uint8_t>(v));
  u8(out, static_cast<std::uint8_t>(v >> 8));
}
void u32(Bytes& out, std::uint32_t v) {
  u16(out, static_cast<std::uint16_t>(v));
  u16(out, static_cast<std::uint16_t>(v >> 16));
}
// A fixed-length, NUL-padded name of 20 bytes, as every directory record holds.
void name20(Bytes& out, std::string_view name) {
  for (std::size_t i = 0; i < 20; ++i) out.push_back(i < name.size() ? name[i] : 0);
}

// Generator operators this writer uses.
constexpr std::uint16_t kInstrument = 41;
constexpr std::uint16_t kSampleId = 53;
constexpr std::uint16_t kSampleModes = 54;  // 1: loop continuously
constexpr std::uint16_t kOggVorbis = 0x10;  // sample type flag of SoundFont 3
constexpr std::uint32_t kPadFrames = 46;    // zero frames after every 16-bit sample

}  // namespace

std::vector<std::int16_t> sine_periods(std::uint32_t frames, int periods, double amplitude) {
  std::vector<std::int16_t> out(frames);
  for (std::uint32_t i = 0; i < frames; ++i)
    out[i] = static_cast<std::int16_t>(
        std::lround(32767.0 * amplitude * std::sin(2.0 * std::numbers::pi * periods * i / frames)));
  return out;
}

Bytes write_soundfont(const SoundFontPreset& preset) {
  const SoundFontSample& s = preset.sample;
  const bool ogg = !s.ogg.empty();
  const std::uint32_t frames = ogg ? s.frames : static_cast<std::uint32_t>(s.pcm.size());

  Bytes ifil, name, engine;
  u16(ifil, ogg ? 3 : 2);
  u16(ifil, 1);
  for (char c : std::string_view("Test font")) name.push_back(static_cast<std::uint8_t>(c));
  name.push_back(0);
  for (char c : std::string_view("EMU8000")) engine.push_back(static_cast<std::uint8_t>(c));
  engine.push_back(0);
  const Bytes info = riff_container(
      "LIST", "INFO",
      {riff_chunk("ifil", ifil), riff_chunk("isng", engine), riff_chunk("INAM", name)});

  Bytes smpl;
  std::uint32_t start = 0, end = 0;
  if (ogg) {
    smpl = s.ogg;  // offsets in bytes of the stream
    end = static_cast<std::uint32_t>(s.ogg.size());
  } else {
    for (std::int16_t v : s.pcm) u16(smpl, static_cast<std::uint16_t>(v));
    for (std::uint32_t i = 0; i < kPadFrames; ++i) u16(smpl, 0);
    end = frames;
  }
  const Bytes sdta = riff_container("LIST", "sdta", {riff_chunk("smpl", smpl)});

  const std::uint32_t loop_end = s.loop_end ? s.loop_end : frames;
  // SoundFont 2 counts loop points from the start of the sample data, SoundFont 3 from the
  // start of the decoded sample; with the sample first in the data they are the same here.
  Bytes phdr, pbag, pmod, pgen, inst, ibag, imod, igen, shdr;
  name20(phdr, "Test preset");
  u16(phdr, preset.program);
  u16(phdr, preset.bank);
  u16(phdr, 0);  // first zone
  u32(phdr, 0);
  u32(phdr, 0);
  u32(phdr, 0);
  name20(phdr, "EOP");
  u16(phdr, 0);
  u16(phdr, 0);
  u16(phdr, 1);  // zones end
  u32(phdr, 0);
  u32(phdr, 0);
  u32(phdr, 0);
  for (const std::uint16_t gen :
       {std::uint16_t{0}, std::uint16_t{1}}) {  // one zone, then the terminal
    u16(pbag, gen);
    u16(pbag, 0);
  }
  for (int i = 0; i < 10; ++i) u8(pmod, 0);
  u16(pgen, kInstrument);
  u16(pgen, 0);
  u16(pgen, 0);
  u16(pgen, 0);
  name20(inst, "Test instrument");
  u16(inst, 0);
  name20(inst, "EOI");
  u16(inst, 1);
  for (const std::uint16_t gen : {std::uint16_t{0}, std::uint16_t{2}}) {
    u16(ibag, gen);
    u16(ibag, 0);
  }
  for (int i = 0; i < 10; ++i) u8(imod, 0);
  u16(igen, kSampleModes);
  u16(igen, 1);
  u16(igen, kSampleId);
  u16(igen, 0);
  u16(igen, 0);
  u16(igen, 0);
  name20(shdr, "Test sample");
  u32(shdr, start);
  u32(shdr, end);
  u32(shdr, s.loop_start);
  u32(shdr, loop_end);
  u32(shdr, s.sample_rate);
  u8(shdr, s.root_key);
  u8(shdr, 0);                                                        // pitch correction
  u16(shdr, 0);                                                       // link
  u16(shdr, static_cast<std::uint16_t>(1 | (ogg ? kOggVorbis : 0)));  // mono
  name20(shdr, "EOS");
  for (int i = 0; i < 26; ++i) u8(shdr, 0);
  const Bytes pdta = riff_container(
      "LIST", "pdta",
      {riff_chunk("phdr", phdr), riff_chunk("pbag", pbag), riff_chunk("pmod", pmod),
       riff_chunk("pgen", pgen), riff_chunk("inst", inst), riff_chunk("ibag", ibag),
       riff_chunk("imod", imod), riff_chunk("igen", igen), riff_chunk("shdr", shdr)});
  return riff_container("RIFF", "sfbk", {info, sdta, pdta});
}

}  // namespace orvan::test
