#include "tests/support/xm_writer.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>

namespace orvan::testing {

namespace {

void put(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void put_text(std::vector<std::uint8_t>& out, const std::string& text, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0);
  }
}

}  // namespace

double xm_frequency(const XmModule& module, std::uint8_t note) {
  return 8363.0 / module.cycle_samples * std::pow(2.0, (note - xm_note(4, 0)) / 12.0);
}

std::vector<std::uint8_t> write_xm(const XmModule& module) {
  std::vector<std::uint8_t> out;
  put_text(out, "Extended Module: ", 17);
  put_text(out, "test", 20);
  out.push_back(0x1A);
  put_text(out, "orvan tests", 20);
  put(out, 0x0104, 2);
  put(out, 276, 4);  // header size from here
  put(out, static_cast<std::uint32_t>(module.orders.size()), 2);
  put(out, 0, 2);  // restart position
  put(out, static_cast<std::uint32_t>(module.channels), 2);
  put(out, static_cast<std::uint32_t>(module.patterns.size()), 2);
  put(out, 1, 2);  // instruments
  put(out, 1, 2);  // linear frequency table
  put(out, static_cast<std::uint32_t>(module.speed), 2);
  put(out, static_cast<std::uint32_t>(module.bpm), 2);
  for (std::size_t i = 0; i < 256; ++i)
    out.push_back(i < module.orders.size() ? module.orders[i] : 0);

  for (const XmPattern& pattern : module.patterns) {
    std::vector<std::uint8_t> data;
    for (int row = 0; row < pattern.rows; ++row) {
      for (int channel = 0; channel < module.channels; ++channel) {
        XmCell cell;
        const auto r = static_cast<std::size_t>(row);
        const auto c = static_cast<std::size_t>(channel);
        if (r < pattern.cells.size() && c < pattern.cells[r].size()) cell = pattern.cells[r][c];
        // Unpacked: note, instrument, volume column, effect, parameter.
        data.insert(data.end(), {cell.note, cell.instrument, 0, cell.effect, cell.param});
      }
    }
    put(out, 9, 4);
    out.push_back(0);
    put(out, static_cast<std::uint32_t>(pattern.rows), 2);
    put(out, static_cast<std::uint32_t>(data.size()), 2);
    out.insert(out.end(), data.begin(), data.end());
  }

  // The instrument: a 263-byte header, then one sample header and its delta-coded data.
  const std::size_t instrument_at = out.size();
  put(out, 263, 4);
  put_text(out, "sine", 22);
  out.push_back(0);
  put(out, 1, 2);                      // samples
  put(out, 40, 4);                     // sample header size
  out.insert(out.end(), 96, 0);        // every note plays sample 0
  out.resize(instrument_at + 263, 0);  // no envelopes, no vibrato, no fadeout

  const auto length = static_cast<std::uint32_t>(module.cycle_samples);
  put(out, length, 4);
  put(out, 0, 4);       // loop start
  put(out, length, 4);  // loop length
  out.push_back(64);    // volume
  out.push_back(0);     // finetune
  out.push_back(1);     // forward loop, 8-bit
  out.push_back(128);   // panning
  out.push_back(0);     // relative note
  out.push_back(0);
  put_text(out, "sine", 22);
  std::int8_t previous = 0;
  for (int i = 0; i < module.cycle_samples; ++i) {
    const auto value = static_cast<std::int8_t>(
        std::lround(100.0 * std::sin(2.0 * std::numbers::pi * i / module.cycle_samples)));
    out.push_back(static_cast<std::uint8_t>(static_cast<std::int8_t>(value - previous)));
    previous = value;
  }
  return out;
}

void save_xm(const XmModule& module, const std::string& path) {
  const std::vector<std::uint8_t> bytes = write_xm(module);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace orvan::testing
