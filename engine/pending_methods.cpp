// TEMPORARY: placeholders that keep Tovel linking until the effects chain, the effect
// parameters and the DLS collections land. Each delivery deletes its part of this file.
#include "engine/orvan_music.h"

namespace orvan::engine {

// Effects chain: deleted when engine/effects_chain.cpp lands.
HResult OrvanMusic::Effect_DistortionOn() {
  return com::E_NOTIMPL;
}
HResult OrvanMusic::Effect_ChorusOn() {
  return com::E_NOTIMPL;
}
HResult OrvanMusic::Effect_ReverbOn() {
  return com::E_NOTIMPL;
}
HResult OrvanMusic::Effect_3DReverb_On() {
  return com::E_NOTIMPL;
}
HResult OrvanMusic::Effect_Clear() {
  return com::E_NOTIMPL;
}

// Effect parameters: deleted when engine/effect_parameters.cpp lands.
HResult OrvanMusic::SetFX_Dist_Gain(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Dist_Edge(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Dist_PostEQBandwidth(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Dist_PostEQCenterFrequency(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Dist_PreLowpassCutoff(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Cho_Feedback(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Cho_Delay(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Cho_Depth(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Cho_Frequency(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Cho_WetDryMix(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Cho_Phase(CONST_OSFX_PHASE /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Cho_Waveform(CONST_OSFX_WAVE /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev_Gain(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev_Mix(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev_Time(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev_HighFreqRTRatio(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev3D_DecayHFRatio(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev3D_DecayTime(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev3D_Density(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev3D_Diffusion(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev3D_HFReference(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev3D_ReflectionsDelay(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev3D_ReverbDelay(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev3D_RoomRolloffFactor(float /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev3D_Reflections(std::int32_t /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev3D_Reverb(std::int32_t /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev3D_Room(std::int32_t /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}
HResult OrvanMusic::SetFX_Rev3D_RoomHF(std::int32_t /*Value*/, com::VariantBool& result) {
  result = com::VARIANT_FALSE;
  return com::E_NOTIMPL;
}

}  // namespace orvan::engine
