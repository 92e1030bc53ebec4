#include "platform/music/output/manual_device.h"
#include "platform/music/output/output_device.h"
#include "platform/music/output/sdl_device.h"
#include "platform/music/output/wav_device.h"

namespace orvan::music::output {

com::HResult open_output_device(OutputKind kind, const std::string& wav_path, int sample_rate,
                                std::unique_ptr<OutputDevice>& device) {
  if (sample_rate < kMinSampleRate || sample_rate > kMaxSampleRate) return com::E_INVALIDARG;
  switch (kind) {
    case OutputKind::Manual:
      device = std::make_unique<ManualDevice>(sample_rate);
      return com::S_OK;
    case OutputKind::WavFile:
      return WavDevice::open(wav_path, sample_rate, device);
    case OutputKind::RealTime:
      return SdlDevice::open(sample_rate, device);
  }
  return com::E_INVALIDARG;
}

}  // namespace orvan::music::output
