#include "alsaapi.h"

namespace vbmp3
{
namespace
{

// libasound reports every PCM it cannot open on stderr; the output says so itself by
// falling back.
void quietAlsa(const char *, int, const char *, int, const char *, ...)
{
}

} // namespace

std::mutex &alsaConfigMutex()
{
    static std::mutex mutex;
    return mutex;
}

const AlsaApi *alsaApi()
{
    static const AlsaApi *const api = [] {
        const AlsaApi *loaded = loadApi<AlsaApi>(
            "libasound.so.2", [](void *lib, AlsaApi &api) { return VBMP3_ALSA_FUNCTIONS(VBMP3_API_RESOLVE) true; });
        if (loaded)
            loaded->snd_lib_error_set_handler(&quietAlsa);
        return loaded;
    }();
    return api;
}

} // namespace vbmp3
