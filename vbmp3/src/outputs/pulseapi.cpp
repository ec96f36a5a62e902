#include "pulseapi.h"

#include <dlfcn.h>

#include <algorithm>
#include <bit>
#include <iterator>
#include <mutex>
#include <optional>

namespace vbmp3
{
namespace
{

// The 16-bit level of a volume word's half as the server's volume and back: 0xFFFF is
// the server's 100 %, and the two conversions undo each other exactly.
pa_volume_t serverVolume(uint32_t level)
{
    return static_cast<pa_volume_t>((uint64_t { level } * PA_VOLUME_NORM + 0x7FFF) / 0xFFFF);
}

uint32_t wordLevel(pa_volume_t volume)
{
    return static_cast<uint32_t>(
        std::min<uint64_t>((uint64_t { volume } * 0xFFFF + PA_VOLUME_NORM / 2) / PA_VOLUME_NORM, 0xFFFF));
}

enum class Side { Left, Right, Centre };

Side sideOf(pa_channel_position_t position)
{
    switch (position) {
    case PA_CHANNEL_POSITION_FRONT_LEFT:
    case PA_CHANNEL_POSITION_REAR_LEFT:
    case PA_CHANNEL_POSITION_SIDE_LEFT:
    case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER:
    case PA_CHANNEL_POSITION_TOP_FRONT_LEFT:
    case PA_CHANNEL_POSITION_TOP_REAR_LEFT:
        return Side::Left;
    case PA_CHANNEL_POSITION_FRONT_RIGHT:
    case PA_CHANNEL_POSITION_REAR_RIGHT:
    case PA_CHANNEL_POSITION_SIDE_RIGHT:
    case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
    case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT:
    case PA_CHANNEL_POSITION_TOP_REAR_RIGHT:
        return Side::Right;
    default:
        return Side::Centre;
    }
}

} // namespace

const PulseApi *pulseApi()
{
    static std::once_flag once;
    static std::optional<PulseApi> api;
    std::call_once(once, [] {
        void *library = dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return;
        PulseApi loaded;
        bool complete = true;
#define VBMP3_PULSE_RESOLVE(name)                                                                                      \
    loaded.name = reinterpret_cast<decltype(loaded.name)>(dlsym(library, "pa_" #name));                                \
    complete = complete && loaded.name;
        VBMP3_PULSE_FUNCTIONS(VBMP3_PULSE_RESOLVE)
#undef VBMP3_PULSE_RESOLVE
        if (complete)
            api = loaded;
        else
            dlclose(library);
    });
    return api ? &*api : nullptr;
}

PulseClient newPulseClient(const PulseApi *pa)
{
    PulseClient client;
    client.loop = pa->threaded_mainloop_new();
    if (!client.loop)
        return client;
    // The library is the player's own: the sound server shows the player, with its
    // icon (PULSE_PROP_* in the environment still override these).
    pa_proplist *props = pa->proplist_new();
    pa->proplist_sets(props, PA_PROP_APPLICATION_NAME, "kestrine");
    pa->proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "kestrine");
    pa->proplist_sets(props, PA_PROP_APPLICATION_ID, "io.github.kestrine.kestrine");
    client.context = pa->context_new_with_proplist(pa->threaded_mainloop_get_api(client.loop), nullptr, props);
    pa->proplist_free(props);
    return client;
}

pa_cvolume pulseVolumeOf(uint32_t word, const pa_channel_map &map)
{
    const uint32_t left = word & 0xFFFFu;
    const uint32_t right = word >> 16;
    const uint32_t centre = (left + right + 1) / 2;
    pa_cvolume volume {};
    volume.channels = map.channels;
    for (unsigned c = 0; c < volume.channels; ++c) {
        const Side side = sideOf(map.map[c]);
        volume.values[c] = serverVolume(side == Side::Left ? left : side == Side::Right ? right : centre);
    }
    return volume;
}

uint32_t pulseWordOf(const pa_cvolume &volume, const pa_channel_map &map, uint32_t fallback)
{
    if (volume.channels == 0)
        return fallback;
    uint32_t left = wordLevel(volume.values[0]);
    uint32_t right = left;
    bool haveLeft = false;
    bool haveRight = false;
    for (unsigned c = 0; c < volume.channels && c < map.channels; ++c) {
        const Side side = sideOf(map.map[c]);
        if (side == Side::Left && !haveLeft) {
            left = wordLevel(volume.values[c]);
            haveLeft = true;
        } else if (side == Side::Right && !haveRight) {
            right = wordLevel(volume.values[c]);
            haveRight = true;
        }
    }
    if (haveLeft != haveRight)
        (haveLeft ? right : left) = haveLeft ? left : right;
    return left | (right << 16);
}

void pulseChannelMap(const PulseApi *pa, pa_channel_map &map, unsigned channels, uint32_t mask)
{
    static constexpr pa_channel_position_t kWavePositions[] = { PA_CHANNEL_POSITION_FRONT_LEFT,
        PA_CHANNEL_POSITION_FRONT_RIGHT, PA_CHANNEL_POSITION_FRONT_CENTER, PA_CHANNEL_POSITION_LFE,
        PA_CHANNEL_POSITION_REAR_LEFT, PA_CHANNEL_POSITION_REAR_RIGHT, PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER,
        PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER, PA_CHANNEL_POSITION_REAR_CENTER, PA_CHANNEL_POSITION_SIDE_LEFT,
        PA_CHANNEL_POSITION_SIDE_RIGHT, PA_CHANNEL_POSITION_TOP_CENTER, PA_CHANNEL_POSITION_TOP_FRONT_LEFT,
        PA_CHANNEL_POSITION_TOP_FRONT_CENTER, PA_CHANNEL_POSITION_TOP_FRONT_RIGHT, PA_CHANNEL_POSITION_TOP_REAR_LEFT,
        PA_CHANNEL_POSITION_TOP_REAR_CENTER, PA_CHANNEL_POSITION_TOP_REAR_RIGHT };
    if (channels <= 2) {
        pa->channel_map_init_auto(&map, channels, PA_CHANNEL_MAP_DEFAULT);
        return;
    }
    if (std::popcount(mask) == static_cast<int>(channels) && mask < (1u << std::size(kWavePositions))) {
        map.channels = static_cast<uint8_t>(channels);
        unsigned c = 0;
        for (unsigned bit = 0; bit < std::size(kWavePositions); ++bit)
            if (mask & (1u << bit))
                map.map[c++] = kWavePositions[bit];
        return;
    }
    pa->channel_map_init_extend(&map, channels, PA_CHANNEL_MAP_WAVEEX);
}

} // namespace vbmp3
