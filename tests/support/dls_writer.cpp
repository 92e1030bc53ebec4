#include "tests/support/dls_writer.h"

#include <cmath>
#include <fstream>
#include <numbers>
#include <stdexcept>

namespace orvan::test {
namespace {

void append_u16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void append_u32(Bytes& out, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void append_id(Bytes& out, std::string_view id) {
  if (id.size() != 4) throw std::invalid_argument("RIFF identifiers have four characters");
  out.insert(out.end(), id.begin(), id.end());
}

void append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

// The region's and the wave's sample description: unity note, no tuning or attenuation,
// and at most one forward loop.
Bytes wsmp_body(const DlsWave& wave) {
  Bytes body;
  append_u32(body, 20);
  append_u16(body, wave.unity_note);
  append_u16(body, 0);  // fine tune
  append_u32(body, 0);  // attenuation
  append_u32(body, 0);  // options
  append_u32(body, wave.loop_length > 0 ? 1 : 0);
  if (wave.loop_length > 0) {
    append_u32(body, 16);
    append_u32(body, 0);  // forward loop
    append_u32(body, wave.loop_start);
    append_u32(body, wave.loop_length);
  }
  return body;
}

Bytes instrument_list(const DlsInstrument& instrument, const DlsWave& wave, bool level2) {
  Bytes insh;
  append_u32(insh, 1);  // regions
  append_u32(insh, std::uint32_t{instrument.bank_lsb} | (std::uint32_t{instrument.bank_msb} << 8) |
                       (instrument.drums ? 0x80000000u : 0u));
  append_u32(insh, instrument.program);

  Bytes rgnh;
  append_u16(rgnh, 0);
  append_u16(rgnh, 127);  // keys
  append_u16(rgnh, 0);
  append_u16(rgnh, 127);            // velocities
  append_u16(rgnh, 0);              // options
  append_u16(rgnh, 0);              // key group
  if (level2) append_u16(rgnh, 0);  // layer

  Bytes wlnk;
  append_u16(wlnk, 0);  // options
  append_u16(wlnk, 0);  // phase group
  append_u32(wlnk, 1);  // channel: mono / left
  append_u32(wlnk, instrument.wave);

  const Bytes region = riff_container(
      "LIST", level2 ? "rgn2" : "rgn ",
      {riff_chunk("rgnh", rgnh), riff_chunk("wsmp", wsmp_body(wave)), riff_chunk("wlnk", wlnk)});
  std::vector<Bytes> children{riff_chunk("insh", insh), riff_container("LIST", "lrgn", {region})};
  if (level2) {
    Bytes art2;  // no connection blocks: every articulation at its default
    append_u32(art2, 8);
    append_u32(art2, 0);
    children.push_back(riff_container("LIST", "lar2", {riff_chunk("art2", art2)}));
  }
  if (!instrument.name.empty()) {
    Bytes name(instrument.name.begin(), instrument.name.end());
    name.push_back(0);
    children.push_back(riff_container("LIST", "INFO", {riff_chunk("INAM", name)}));
  }
  return riff_container("LIST", "ins ", children);
}

Bytes wave_list(const DlsWave& wave) {
  Bytes fmt;
  append_u16(fmt, 1);  // PCM
  append_u16(fmt, 1);  // mono
  append_u32(fmt, wave.sample_rate);
  append_u32(fmt, wave.sample_rate * 2);
  append_u16(fmt, 2);   // block align
  append_u16(fmt, 16);  // bits
  Bytes data;
  data.reserve(wave.samples.size() * 2);
  for (std::int16_t s : wave.samples) append_u16(data, static_cast<std::uint16_t>(s));
  return riff_container(
      "LIST", "wave",
      {riff_chunk("fmt ", fmt), riff_chunk("wsmp", wsmp_body(wave)), riff_chunk("data", data)});
}

// The shortest loop of whole periods of `hz`, at most one second long.
std::uint32_t whole_period_loop(double hz, std::uint32_t sample_rate) {
  for (std::uint32_t n = 1; n <= sample_rate; ++n) {
    const double periods = hz * n / sample_rate;
    if (std::abs(periods - std::round(periods)) < 1e-9 && periods >= 1.0) return n;
  }
  throw std::invalid_argument("no loop of whole periods within a second");
}

DlsWave periodic_wave(double hz, std::uint32_t sample_rate, std::uint16_t unity_note,
                      double amplitude, bool square) {
  const std::uint32_t loop = whole_period_loop(hz, sample_rate);
  DlsWave wave;
  wave.sample_rate = sample_rate;
  wave.unity_note = unity_note;
  // Several loop lengths ahead of the loop itself, so the start and the loop sound alike.
  wave.loop_start = loop;
  wave.loop_length = loop;
  wave.samples.resize(std::size_t{loop} * 2);
  for (std::size_t i = 0; i < wave.samples.size(); ++i) {
    const double s = std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / sample_rate);
    const double v = square ? (s >= 0.0 ? 1.0 : -1.0) : s;
    wave.samples[i] = static_cast<std::int16_t>(std::lround(v * amplitude * 32767.0));
  }
  return wave;
}

}  // namespace

Bytes riff_chunk(std::string_view id, const Bytes& body) {
  Bytes out;
  append_id(out, id);
  append_u32(out, static_cast<std::uint32_t>(body.size()));
  append(out, body);
  if (body.size() % 2 != 0) out.push_back(0);
  return out;
}

Bytes riff_container(std::string_view kind, std::string_view form,
                     const std::vector<Bytes>& children) {
  Bytes body;
  append_id(body, form);
  for (const Bytes& child : children) append(body, child);
  return riff_chunk(kind, body);
}

Bytes write_dls(const DlsCollection& collection) {
  std::vector<Bytes> instruments;
  for (const DlsInstrument& instrument : collection.instruments) {
    instruments.push_back(
        instrument_list(instrument, collection.waves.at(instrument.wave), collection.level2));
  }

  std::vector<Bytes> waves;
  Bytes ptbl;
  append_u32(ptbl, 8);
  append_u32(ptbl, static_cast<std::uint32_t>(collection.waves.size()));
  std::uint32_t offset = 0;  // from the first byte after the pool's 'wvpl' identifier
  for (const DlsWave& wave : collection.waves) {
    waves.push_back(wave_list(wave));
    append_u32(ptbl, offset);
    offset += static_cast<std::uint32_t>(waves.back().size());
  }

  Bytes colh;
  append_u32(colh, static_cast<std::uint32_t>(collection.instruments.size()));
  return riff_container("RIFF", "DLS ",
                        {riff_chunk("colh", colh), riff_container("LIST", "lins", instruments),
                         riff_chunk("ptbl", ptbl), riff_container("LIST", "wvpl", waves)});
}

DlsWave make_sine_wave(double hz, std::uint32_t sample_rate, std::uint16_t unity_note,
                       double amplitude) {
  return periodic_wave(hz, sample_rate, unity_note, amplitude, false);
}

DlsWave make_square_wave(double hz, std::uint32_t sample_rate, std::uint16_t unity_note,
                         double amplitude) {
  return periodic_wave(hz, sample_rate, unity_note, amplitude, true);
}

DlsCollection sine_and_square_collection() {
  DlsCollection collection;
  collection.waves.push_back(make_sine_wave(440.0, 44100, 69));
  collection.waves.push_back(make_square_wave(440.0, 44100, 69));
  collection.instruments.push_back({.program = 0, .wave = 0, .name = "Test Sine"});
  collection.instruments.push_back({.program = 1, .wave = 1, .name = "Test Square"});
  return collection;
}

void put_u32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get_u32(const Bytes& bytes, std::size_t offset) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= std::uint32_t{bytes.at(offset + i)} << (8 * i);
  return v;
}

bool save_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace orvan::test
