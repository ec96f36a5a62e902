// Equalizer presets and their application to the decoder.  GUI thread.
#pragma once

#include "decoderapi.h"
#include "settings.h"

#include <array>
#include <cstdint>

namespace kes
{

using EqCurve = std::array<int32_t, 10>;

// Preset numbers 0 "Custom", 1 "Flat", 2 "Vocal", 3 "Powerful", 4 "Natural", 5 "Bass".
// Presets 2 to 4 have one curve applied when the settings are loaded and another when
// the user picks the preset in the options window.
enum class EqCurveUse { Load, Pick };
// "Custom", "Flat", "Vocal", "Powerful", "Natural", "Bass"; empty outside 0..5.
QString eqPresetCaption(int preset);
// The curve of preset; Custom gives current.  A preset outside 0..5 gives the Flat curve.
EqCurve eqPresetCurve(int preset, EqCurveUse use, const EqCurve &current);

// Run right after LoadSettings.  A preset outside 0..5 becomes 1 (Flat); EqBands becomes
// the preset's load curve (Custom keeps it); when EqOn is set the bands go to the decoder
// through api.setEqualizer.  It moves no controls: the options window shows EqBands (and
// EqPreset) after calling this.
void ApplyEqPreset(Settings &s, const DecoderApi &api);

} // namespace kes
