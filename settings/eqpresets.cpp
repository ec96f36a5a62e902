#include "eqpresets.h"

namespace kes
{

EqCurve eqPresetCurve(int preset, EqCurveUse use, const EqCurve &current)
{
    const bool load = use == EqCurveUse::Load;
    switch (preset) {
    case 0:
        return current;
    case 2:
        return load ? EqCurve { 0, 0, 0, 0, 20, 40, 60, 40, 20, 0 }
                    : EqCurve { -20, -20, -20, 10, 30, 40, 20, 30, 10, 10 };
    case 3:
        return load ? EqCurve { 50, 60, 40, 20, 0, 0, 0, 0, 0, 0 }
                    : EqCurve { 40, 40, 40, 20, -20, -20, -20, 0, 20, 40 };
    case 4:
        return load ? EqCurve { 0, 0, 0, 0, -10, -20, -20, -10, 0, 0 }
                    : EqCurve { 10, 10, 10, 0, -10, -20, -20, -10, 0, 10 };
    case 5: {
        EqCurve bass;
        bass.fill(-30);
        return bass;
    }
    default: // 1 and anything out of range: flat
        return EqCurve {};
    }
}

QString eqPresetCaption(int preset)
{
    static const char *const captions[] = { "Custom", "Flat", "Vocal", "Powerful", "Natural", "Bass" };
    return preset >= 0 && preset <= 5 ? QString::fromLatin1(captions[preset]) : QString();
}

void ApplyEqPreset(Settings &s, const DecoderApi &api)
{
    if (s.EqPreset < 0 || s.EqPreset > 5)
        s.EqPreset = 1;
    s.EqBands = eqPresetCurve(s.EqPreset, EqCurveUse::Load, s.EqBands);
    if (s.EqOn)
        api.setEqualizer(s.EqBands.data());
}

} // namespace kes
