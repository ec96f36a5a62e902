// The ALSA PCMs offered as output devices: libasound's hints, one entry for each card's
// device (its best PCM) and one for each PCM of its own.
#include "alsaapi.h"
#include "outputdevices.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>
#include <mutex>

namespace vbmp3
{

std::vector<OutputDevice> alsaDevices()
{
    const AlsaApi *api = alsaApi();
    if (!api)
        return {};
    std::vector<AlsaHint> hints;
    {
        std::lock_guard config(alsaConfigMutex());
        void **list = nullptr;
        if (api->snd_device_name_hint(-1, "pcm", &list) < 0 || !list)
            return {};
        const auto hint = [api](void *entry, const char *id) {
            char *value = api->snd_device_name_get_hint(entry, id);
            std::string text = value ? value : "";
            std::free(value);
            return text;
        };
        for (void **entry = list; *entry; ++entry)
            if (hint(*entry, "IOID") != "Input") // empty: both directions
                hints.push_back({ hint(*entry, "NAME"), hint(*entry, "DESC") });
        api->snd_device_name_free_hint(list);
        api->snd_config_update_free_global();
    }
    return alsaDevicesOf(hints);
}

std::vector<OutputDevice> alsaDevicesOf(const std::vector<AlsaHint> &hints)
{
    // PCMs that are no device of their own: alsa-plugins' converters, and bridges to sound
    // systems (the sound server's sinks are listed by themselves).
    static const char *const kNotDevices[] = { "null", "lavrate", "lavcrate", "samplerate", "samplerate_best",
        "samplerate_linear", "samplerate_medium", "samplerate_order", "speexrate", "speexrate_best", "speexrate_medium",
        "speex", "upmix", "vdownmix", "a52", "jack", "oss", "pulse", "pipewire" };
    // The PCMs of one card's device, best first: its default (with the card's own mixing),
    // HDMI's (which sets the stream's status bits), any format and rate, the bare device.
    static const char *const kCardPcms[] = { "sysdefault", "hdmi", "front", "plughw", "dmix", "iec958", "hw" };
    struct Card {
        size_t rank;
        std::string name;
    };
    std::vector<OutputDevice> devices;
    std::map<std::pair<std::string, std::string>, Card> cards; // (card, device name) -> best PCM
    std::vector<std::pair<std::string, std::string>> cardOrder;
    for (const AlsaHint &hint : hints) {
        const std::string &name = hint.name;
        if (name.empty() || std::find(std::begin(kNotDevices), std::end(kNotDevices), name) != std::end(kNotDevices))
            continue;
        const size_t card = name.find("CARD=");
        if (card == std::string::npos) {
            std::string description = hint.description;
            std::replace(description.begin(), description.end(), '\n', ' ');
            devices.push_back({ "alsa:" + name, description.empty() ? name : description });
            continue;
        }
        // "hw:CARD=PCH,DEV=3" described "HDA Intel PCH, HDMI 0\nDirect hardware device...":
        // the first line names the device, whatever the PCM's kind.
        const std::string kind = name.substr(0, name.find(':'));
        const auto rank
            = static_cast<size_t>(std::find(std::begin(kCardPcms), std::end(kCardPcms), kind) - std::begin(kCardPcms));
        if (rank == std::size(kCardPcms))
            continue; // surround layouts, capture-only and special PCMs of the card
        const std::string id = name.substr(card + 5, name.find(',', card) - card - 5);
        const std::string device = hint.description.substr(0, hint.description.find('\n'));
        const auto key = std::pair(id, device.empty() ? name : device);
        const auto [at, added] = cards.try_emplace(key, Card { rank, name });
        if (added)
            cardOrder.push_back(key);
        else if (rank < at->second.rank)
            at->second = { rank, name };
    }
    for (const auto &key : cardOrder)
        devices.push_back({ "alsa:" + cards.at(key).name, key.second });
    return devices;
}

} // namespace vbmp3
