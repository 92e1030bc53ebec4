#include "platform/music/synth/instrument_library.h"

#include <fcntl.h>
#include <fluidsynth.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <new>

#include "platform/music/midi/sequence.h"
#include "platform/music/synth/dls_font.h"
#include "platform/music/synth/fluid_messages.h"
#include "platform/music/synth/fluid_process.h"

namespace orvan::music::synth {
namespace {

using com::HResult;

constexpr int kChannels = 16;

// --- The file as the loader reads it: the SoundFont up to its preset directory, then the
// cut directory, with the RIFF form's size made to fit. ---

struct ServedDirectory {
  const std::string* path = nullptr;
  const FileIdentity* identity = nullptr;  // the file the directory was read from
  std::int64_t offset = 0;                 // where the file's own directory begins
  const std::vector<std::uint8_t>* bytes = nullptr;
};
// Set while this thread's library loads a cut font; the loader's callbacks run on the
// thread that called it.
thread_local const ServedDirectory* t_served = nullptr;

class ServingDirectory {
 public:
  explicit ServingDirectory(const ServedDirectory& served) { t_served = &served; }
  ~ServingDirectory() { t_served = nullptr; }
  ServingDirectory(const ServingDirectory&) = delete;
  ServingDirectory& operator=(const ServingDirectory&) = delete;
};

struct ServedFile {
  int fd = -1;
  std::int64_t prefix = 0;  // bytes served from the file itself
  const std::vector<std::uint8_t>* directory = nullptr;
  std::int64_t size = 0;
  std::int64_t position = 0;
};

void* open_served(const char* filename) {
  const int fd = ::open(filename, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  const ServedDirectory* served = t_served;
  const bool serving = served && *served->path == filename;
  // A file replaced or rewritten since its directory was read would be misread through it.
  FileIdentity identity;
  if (serving && (!identify_file(fd, identity) || !(identity == *served->identity))) {
    ::close(fd);
    return nullptr;
  }
  auto* file = new (std::nothrow) ServedFile;
  if (!file) {
    ::close(fd);
    return nullptr;
  }
  file->fd = fd;
  file->prefix = info.st_size;
  file->size = info.st_size;
  if (serving) {
    file->prefix = served->offset;
    file->directory = served->bytes;
    file->size = served->offset + static_cast<std::int64_t>(served->bytes->size());
  }
  return file;
}

int read_served(void* buffer, fluid_long_long_t count, void* handle) {
  auto* file = static_cast<ServedFile*>(handle);
  if (count < 0 || count > file->size - file->position) return FLUID_FAILED;
  auto* out = static_cast<std::uint8_t*>(buffer);
  const std::int64_t start = file->position;
  const std::int64_t end = start + count;
  for (std::int64_t at = start; at < std::min(end, file->prefix);) {
    const ssize_t n = ::pread(file->fd, out + (at - start),
                              static_cast<std::size_t>(std::min(end, file->prefix) - at), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return FLUID_FAILED;
    at += n;
  }
  if (file->directory) {
    for (std::int64_t at = std::max(start, file->prefix); at < end; ++at) {
      out[at - start] = (*file->directory)[static_cast<std::size_t>(at - file->prefix)];
    }
    // The form's size (bytes 4..7) counts what follows it in the file served.
    const std::uint32_t form = static_cast<std::uint32_t>(file->size - 8);
    for (std::int64_t at = std::max<std::int64_t>(start, 4); at < std::min<std::int64_t>(end, 8);
         ++at) {
      out[at - start] = static_cast<std::uint8_t>((form >> (8 * (at - 4))) & 0xFF);
    }
  }
  file->position = end;
  return FLUID_OK;
}

int seek_served(void* handle, fluid_long_long_t offset, int origin) {
  auto* file = static_cast<ServedFile*>(handle);
  std::int64_t base = 0;
  if (origin == SEEK_CUR) base = file->position;
  if (origin == SEEK_END) base = file->size;
  const std::int64_t target = base + offset;
  if (target < 0 || target > file->size) return FLUID_FAILED;
  file->position = target;
  return FLUID_OK;
}

fluid_long_long_t tell_served(void* handle) {
  return static_cast<ServedFile*>(handle)->position;
}

int close_served(void* handle) {
  auto* file = static_cast<ServedFile*>(handle);
  ::close(file->fd);
  delete file;
  return FLUID_OK;
}

// --- The stand-in font: one preset per preset of the file, sounding nothing, so that
// FluidSynth's own program selection (banks, drum channels, fallbacks, resets) can be
// watched without loading a thing. ---

struct StandIns {
  std::vector<PresetId> ids;
  std::vector<fluid_preset_t*> presets;
};

const char* stand_in_font_name(fluid_sfont_t*) {
  return "stand-in presets";
}
const char* stand_in_name(fluid_preset_t*) {
  return "stand-in";
}
int stand_in_bank(fluid_preset_t* preset) {
  return static_cast<const PresetId*>(fluid_preset_get_data(preset))->bank;
}
int stand_in_program(fluid_preset_t* preset) {
  return static_cast<const PresetId*>(fluid_preset_get_data(preset))->program;
}
int stand_in_noteon(fluid_preset_t*, fluid_synth_t*, int, int, int) {
  return FLUID_OK;
}
void free_stand_in(fluid_preset_t* preset) {
  delete_fluid_preset(preset);
}
fluid_preset_t* stand_in_lookup(fluid_sfont_t* font, int bank, int program) {
  const auto* stand_ins = static_cast<const StandIns*>(fluid_sfont_get_data(font));
  for (fluid_preset_t* preset : stand_ins->presets) {
    if (stand_in_bank(preset) == bank && stand_in_program(preset) == program) return preset;
  }
  return nullptr;
}
void stand_in_iteration_start(fluid_sfont_t*) {}
fluid_preset_t* stand_in_iteration_next(fluid_sfont_t*) {
  return nullptr;
}
int free_stand_in_font(fluid_sfont_t* font) {
  auto* stand_ins = static_cast<StandIns*>(fluid_sfont_get_data(font));
  for (fluid_preset_t* preset : stand_ins->presets) free_stand_in(preset);
  delete stand_ins;
  delete_fluid_sfont(font);
  return 0;
}

HResult add_stand_ins(fluid_synth_t* synth, const std::vector<PresetId>& ids) {
  auto* stand_ins = new StandIns{ids, {}};
  fluid_sfont_t* font =
      new_fluid_sfont(stand_in_font_name, stand_in_lookup, stand_in_iteration_start,
                      stand_in_iteration_next, free_stand_in_font);
  if (!font) {
    delete stand_ins;
    return com::E_OUTOFMEMORY;
  }
  fluid_sfont_set_data(font, stand_ins);
  for (PresetId& id : stand_ins->ids) {
    fluid_preset_t* preset = new_fluid_preset(font, stand_in_name, stand_in_bank, stand_in_program,
                                              stand_in_noteon, free_stand_in);
    if (!preset) {
      free_stand_in_font(font);
      return com::E_OUTOFMEMORY;
    }
    fluid_preset_set_data(preset, &id);
    stand_ins->presets.push_back(preset);
  }
  if (fluid_synth_add_sfont(synth, font) == FLUID_FAILED) {
    free_stand_in_font(font);
    return com::MUSIC_E_SYNTH_FAILED;
  }
  return com::S_OK;
}

struct Libraries {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<InstrumentLibrary>> open;
};
// Never destroyed: a synthesizer owned by a static object may close during exit.
Libraries& libraries() {
  static Libraries* const instance = new Libraries;
  return *instance;
}

}  // namespace

HResult InstrumentLibrary::open(const std::string& path, std::shared_ptr<InstrumentLibrary>& out) {
  prepare_fluidsynth();
  Libraries& all = libraries();
  std::lock_guard lock(all.mutex);
  const std::shared_ptr<InstrumentLibrary> alive = all.open[path].lock();
  if (alive && alive->matches_file()) {
    out = alive;
    return com::S_OK;
  }
  std::shared_ptr<InstrumentLibrary> library(new InstrumentLibrary);
  if (HResult hr = SoundFontCatalogue::read(path, library->catalogue_); com::failed(hr)) {
    return alive ? com::MUSIC_E_SOUNDFONT_CHANGED : hr;
  }
  library->settings_ = new_fluid_settings();
  if (!library->settings_) return com::E_OUTOFMEMORY;
  fluid_settings_t* settings = library->settings_;
  fluid_settings_setint(settings, "synth.polyphony", 1);
  fluid_settings_setint(settings, "synth.reverb.active", 0);
  fluid_settings_setint(settings, "synth.chorus.active", 0);
  fluid_settings_setint(settings, "synth.threadsafe-api", 0);
  fluid_settings_setint(settings, "synth.cpu-cores", 1);
  fluid_settings_setint(settings, "synth.lock-memory", 0);
  fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
  library->synth_ = new_fluid_synth(settings);
  if (!library->synth_) return com::MUSIC_E_SYNTH_FAILED;
  fluid_sfloader_t* loader = new_fluid_defsfloader(settings);
  if (!loader) return com::E_OUTOFMEMORY;
  fluid_sfloader_set_callbacks(loader, open_served, read_served, seek_served, tell_served,
                               close_served);
  // Tried before the synthesizer's own loaders; owned by the synthesizer from here on.
  fluid_synth_add_sfloader(library->synth_, loader);
  if (HResult hr = add_stand_ins(library->synth_, library->catalogue_->presets());
      com::failed(hr)) {
    return hr;
  }
  all.open[path] = library;
  out = std::move(library);
  return com::S_OK;
}

bool InstrumentLibrary::matches_file() const {
  const int fd = ::open(catalogue_->path().c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  FileIdentity now;
  const bool same = fd >= 0 && identify_file(fd, now) && now == catalogue_->identity();
  if (fd >= 0) ::close(fd);
  return same;
}

InstrumentLibrary::~InstrumentLibrary() {
  if (synth_) delete_fluid_synth(synth_);
  if (settings_) delete_fluid_settings(settings_);
}

std::vector<PresetUse> InstrumentLibrary::presets_used_by(const midi::Sequence& sequence) {
  std::lock_guard lock(mutex_);
  std::vector<PresetUse> uses;
  const auto use_on = [&](int channel) -> PresetUse* {
    fluid_preset_t* preset = fluid_synth_get_channel_preset(synth_, channel);
    if (!preset) return nullptr;
    const PresetId id{static_cast<std::uint16_t>(fluid_preset_get_banknum(preset)),
                      static_cast<std::uint16_t>(fluid_preset_get_num(preset))};
    const auto found = std::find_if(uses.begin(), uses.end(),
                                    [&](const PresetUse& use) { return use.preset == id; });
    if (found != uses.end()) return &*found;
    uses.push_back({id, {}});
    return &uses.back();
  };
  fluid_synth_system_reset(synth_);
  for (int ch = 0; ch < kChannels; ++ch) {
    select_reset_program(synth_, ch);
    use_on(ch);
  }
  for (const midi::Event& e : sequence.events) {
    if (e.is_channel() && e.command() == 0x90 && e.data2 > 0) {
      if (PresetUse* use = use_on(e.channel())) {
        use->notes.push_back(static_cast<std::uint16_t>((e.data1 & 0x7F) << 7 | (e.data2 & 0x7F)));
      }
    } else if (e.is_channel() && (e.command() == 0xB0 || e.command() == 0xC0)) {
      send_channel_message(synth_, e.status, e.data1, e.data2);
      if (e.command() == 0xC0) use_on(e.channel());
    } else if (e.status == midi::kSysExStatus) {
      // A reset or a part's mode may choose presets on any channel.
      send_sysex(synth_, sequence.payload_of(e));
      for (int ch = 0; ch < kChannels; ++ch) use_on(ch);
    }
  }
  for (PresetUse& use : uses) {
    std::sort(use.notes.begin(), use.notes.end());
    use.notes.erase(std::unique(use.notes.begin(), use.notes.end()), use.notes.end());
  }
  return uses;
}

HResult InstrumentLibrary::load_instruments(std::span<const PresetUse> uses, fluid_sfont_t*& out) {
  out = nullptr;
  std::vector<PresetUse> present;
  for (const PresetUse& use : uses) {
    if (catalogue_->has(use.preset)) present.push_back(use);
  }
  if (present.empty()) return com::S_OK;
  // Checked first: when our loader refuses a changed file, FluidSynth's own loader would go
  // on to parse the whole of it only for the font to be refused below.
  if (!matches_file()) return com::MUSIC_E_SOUNDFONT_CHANGED;
  const std::vector<std::uint8_t> directory = catalogue_->cut_directory(present);

  std::lock_guard lock(mutex_);
  const ServedDirectory served{&catalogue_->path(), &catalogue_->identity(),
                               catalogue_->directory_offset(), &directory};
  const ServingDirectory serving(served);
  const int id = fluid_synth_sfload(synth_, catalogue_->path().c_str(), 0);
  if (id == FLUID_FAILED) {
    return matches_file() ? com::MUSIC_E_SYNTH_FAILED : com::MUSIC_E_SOUNDFONT_CHANGED;
  }
  fluid_sfont_t* font = fluid_synth_get_sfont_by_id(synth_, id);
  // Only our loader may have read it: had FluidSynth's own loader read the whole file after
  // ours failed, the font would hold presets nobody pinned, whose samples a render thread
  // would then read on a program change.
  bool pinned = font != nullptr;
  if (font) {
    fluid_sfont_iteration_start(font);
    while (fluid_preset_t* preset = fluid_sfont_iteration_next(font)) {
      const PresetId found{static_cast<std::uint16_t>(fluid_preset_get_banknum(preset)),
                           static_cast<std::uint16_t>(fluid_preset_get_num(preset))};
      pinned = pinned && std::any_of(present.begin(), present.end(),
                                     [&](const PresetUse& use) { return use.preset == found; });
    }
  }
  for (const PresetUse& use : present) {
    pinned = pinned &&
             fluid_synth_pin_preset(synth_, id, use.preset.bank, use.preset.program) == FLUID_OK;
  }
  if (!font) return com::MUSIC_E_SYNTH_FAILED;
  // Out of this synthesizer, so that the font belongs to whoever sounds it.
  fluid_synth_remove_sfont(synth_, font);
  if (!pinned) {
    discard_font(font);
    return matches_file() ? com::MUSIC_E_SYNTH_FAILED : com::MUSIC_E_SOUNDFONT_CHANGED;
  }
  out = font;
  return com::S_OK;
}

}  // namespace orvan::music::synth
