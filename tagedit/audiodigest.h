// The audio part of a tagged file, as a digest that a tag edit must leave as it was:
// the bytes between the tags of MP3, WavPack and Monkey's Audio, the frames after FLAC's
// metadata, the pages after an Ogg stream's headers (their granule positions and bodies:
// a longer comment may renumber them), the MP4 'mdat' boxes.  Blocking; thread-safe.
#pragma once

#include <QByteArray>

#include <optional>

namespace kes
{

enum class AudioLayout { TagsAround, Flac, Ogg, Mp4 };

struct AudioDigest {
    qint64 bytes = 0;
    QByteArray sha1;
    bool operator==(const AudioDigest &) const = default;
};

// nullopt when the file cannot be read or its structure is not found.
std::optional<AudioDigest> audioDigest(const QByteArray &fileName, AudioLayout layout);

} // namespace kes
