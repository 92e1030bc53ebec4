#include "platform/music/module/module_content.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libopenmpt/libopenmpt.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <libopenmpt/libopenmpt.hpp>
#include <ostream>
#include <streambuf>

#include "platform/music/module/module_source.h"

namespace orvan::music {

namespace {

// Larger files are no tracker module anyone plays; refusing them bounds what a load reads.
constexpr std::uint64_t kMaxModuleBytes = 64ull << 20;
// A pass longer than this many rows is refused: its music time would not fit.
constexpr std::size_t kMaxRows = 1u << 20;
// The row scan renders at this rate in steps of kScanFrames: a row's start is known to
// within one step (1 ms).
constexpr std::int32_t kScanRate = 16000;
constexpr std::size_t kScanFrames = 16;

// libopenmpt's messages go nowhere: a bad file is answered by a status.
class NullBuffer final : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

struct RowHighlight {
  std::int32_t rows_per_beat = ModuleContent::kDefaultRowsPerBeat;
  std::int32_t beats_per_bar = ModuleContent::kDefaultBeatsPerBar;
};

RowHighlight row_highlight_of(const std::vector<std::uint8_t>& bytes) {
  // IT and MPTM files keep their row highlight at 0x1E: rows per beat, then per measure.
  // Other formats have none, and trackers show them with the default.
  RowHighlight highlight;
  const bool impulse = bytes.size() > 0x1F && bytes[0] == 'I' && bytes[1] == 'M' &&
                       bytes[2] == 'P' && bytes[3] == 'M';
  if (!impulse || bytes[0x1E] == 0) return highlight;
  highlight.rows_per_beat = bytes[0x1E];
  // A measure that is not a whole number of beats has no bar a transition could wait for.
  if (bytes[0x1F] >= bytes[0x1E] && bytes[0x1F] % bytes[0x1E] == 0) {
    highlight.beats_per_bar = bytes[0x1F] / bytes[0x1E];
  }
  return highlight;
}

// The rows one pass plays, in order, and when each begins at tempo 1. libopenmpt notices
// the end of a module only some ticks into the row after it: rows from `seconds` (the pass's
// length as libopenmpt works it out) on belong to no pass.
std::vector<ModuleContent::Row> scan_rows(openmpt::module& module, double seconds) {
  std::vector<ModuleContent::Row> rows;
  std::array<float, kScanFrames> left{}, right{};
  std::int32_t order = -1, row = -1;
  std::uint64_t frames = 0;
  for (;;) {
    const std::int32_t now_order = module.get_current_order();
    const std::int32_t now_row = module.get_current_row();
    if (now_order != order || now_row != row) {
      order = now_order;
      row = now_row;
      // The row began within the step just rendered: its middle is within half a step.
      const double begun =
          frames == 0 ? 0.0 : (static_cast<double>(frames) - kScanFrames / 2.0) / kScanRate;
      if (begun >= seconds) break;
      rows.push_back({order, row, begun});
      if (rows.size() > kMaxRows) break;
    }
    const std::size_t got = module.read(kScanRate, kScanFrames, left.data(), right.data());
    frames += got;
    if (got < kScanFrames) break;
  }
  return rows;
}

}  // namespace

ModuleContent::ModuleContent(std::vector<std::uint8_t> bytes, ModuleInfo info,
                             std::vector<Row> rows)
    : bytes_(std::move(bytes)), info_(std::move(info)), rows_(std::move(rows)) {}

std::size_t ModuleContent::recognition_size() {
  return openmpt_probe_file_header_get_recommended_size();
}

bool ModuleContent::recognises(const std::uint8_t* head, std::size_t size,
                               std::uint64_t file_size) {
  return openmpt_probe_file_header(OPENMPT_PROBE_FILE_HEADER_FLAGS_DEFAULT, head, size, file_size,
                                   nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr) == OPENMPT_PROBE_FILE_HEADER_RESULT_SUCCESS;
}

HResult ModuleContent::load(const std::string& path,
                            std::shared_ptr<const ModuleContent>& content) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EISDIR ? com::MUSIC_E_IS_DIRECTORY : com::MUSIC_E_CANNOT_OPEN;
  struct stat st {};
  std::vector<std::uint8_t> bytes;
  HResult hr = com::S_OK;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    hr = com::MUSIC_E_CANNOT_OPEN;
  } else if (st.st_size == 0) {
    hr = com::MUSIC_E_EMPTY_FILE;
  } else if (static_cast<std::uint64_t>(st.st_size) > kMaxModuleBytes) {
    hr = com::MUSIC_E_FILE_TOO_LARGE;
  } else {
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t filled = 0;
    while (filled < bytes.size()) {
      const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);
  }
  ::close(fd);
  if (com::failed(hr)) return hr;
  return from_bytes(std::move(bytes), content);
}

HResult ModuleContent::from_bytes(std::vector<std::uint8_t> bytes,
                                  std::shared_ptr<const ModuleContent>& content) {
  NullBuffer nowhere;
  std::ostream quiet(&nowhere);
  try {
    openmpt::module module(bytes, quiet);
    module.set_repeat_count(0);
    ModuleInfo info;
    info.format = module.get_metadata("type");
    info.format_name = module.get_metadata("type_long");
    info.title = module.get_metadata("title");
    info.channels = module.get_num_channels();
    info.orders = module.get_num_orders();
    info.patterns = module.get_num_patterns();
    const RowHighlight highlight = row_highlight_of(bytes);
    info.rows_per_beat = highlight.rows_per_beat;
    info.beats_per_bar = highlight.beats_per_bar;
    info.seconds = module.get_duration_seconds();
    std::vector<Row> rows = scan_rows(module, info.seconds);
    if (rows.size() > kMaxRows) return com::MUSIC_E_FILE_TOO_LARGE;
    info.rows = static_cast<std::int32_t>(rows.size());
    info.length = static_cast<std::int32_t>(static_cast<std::int64_t>(info.rows) * kTicksPerBeat /
                                            info.rows_per_beat);
    content =
        std::make_shared<const ModuleContent>(std::move(bytes), std::move(info), std::move(rows));
    return com::S_OK;
  } catch (const std::bad_alloc&) {
    return com::E_OUTOFMEMORY;
  } catch (const std::exception&) {
    // libopenmpt recognised the file but cannot read it.
    return com::MUSIC_E_CORRUPT;
  }
}

double ModuleContent::seconds_at(double music_time) const noexcept {
  if (rows_.empty() || music_time <= 0.0) return 0.0;
  const double row = music_time * info_.rows_per_beat / kTicksPerBeat;
  const auto index = static_cast<std::size_t>(row);
  if (index >= rows_.size()) return info_.seconds;
  // Within a row time runs evenly up to the next row, or to the end of the pass.
  const double next = index + 1 < rows_.size() ? rows_[index + 1].seconds : info_.seconds;
  return rows_[index].seconds + (row - static_cast<double>(index)) * (next - rows_[index].seconds);
}

HResult ModuleContent::open(const PlayOptions& options, std::unique_ptr<PlaySource>& source) const {
  std::unique_ptr<ModuleSource> made;
  if (HResult hr = ModuleSource::open(*this, options, made); com::failed(hr)) return hr;
  source = std::move(made);
  return com::S_OK;
}

}  // namespace orvan::music
