// The sound devices besides the sound server's default: the ALSA output, and the devices
// of both kinds a caller may choose from.
#pragma once

#include "output.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vbmp3
{

// A device to play through: id is "pulse:SINK" or "alsa:PCM", description what the
// system calls it.
struct OutputDevice {
    std::string id;
    std::string description;
};

// Plays through the ALSA PCM named device ("default" when empty); open() fails when the
// PCM cannot be opened or takes no format this output gives.  libasound is loaded at the
// first open.
std::unique_ptr<Output> makeAlsaOutput(const std::string &device = {});

// The ALSA devices that play (snd_device_name_hint), one PCM for each device of a card
// (named by the card's name for it) and the PCMs defined by name ("default", the user's),
// without "null", the converter plugins and the bridges to sound servers; empty without
// libasound.
std::vector<OutputDevice> alsaDevices();
// What snd_device_name_hint says of one PCM: its NAME and DESC.
struct AlsaHint {
    std::string name;
    std::string description;
};
// The devices alsaDevices lists for hints.
std::vector<OutputDevice> alsaDevicesOf(const std::vector<AlsaHint> &hints);
// The sound server's sinks by their description; empty when no server answers within
// about a second.
std::vector<OutputDevice> pulseDevices();
// The sound server's sinks, then the ALSA devices; descriptions that several share are
// followed by the device's own name in brackets, so that each can be told apart.
std::vector<OutputDevice> outputDevices();

// What "auto" opens when the device it tried first (tried: "" for the sound server's
// default, else a device id) did not open: the sound server's default, then ALSA's
// "default", then the null output (which always opens).  Blocks for up to about a second
// per device that does not answer.  prepare is called on each output before its open.
std::unique_ptr<Output> openDefaultOutput(
    const OutputFormat &format, const std::string &tried, const std::function<void(Output &)> &prepare = {});

} // namespace vbmp3
