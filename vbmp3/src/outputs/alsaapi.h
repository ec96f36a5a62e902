// The functions of libasound the ALSA output calls, as a table: loaded at run time, and
// the seam through which tests stand in for a device (a suspend, a slow resume).
#pragma once

#include "common/runtimelib.h"
#include "output.h"

#include <alsa/asoundlib.h>

#include <memory>
#include <mutex>
#include <string>

namespace vbmp3
{

#define VBMP3_ALSA_FUNCTIONS(X)                                                                                        \
    X(snd_config_update_free_global)                                                                                   \
    X(snd_device_name_free_hint)                                                                                       \
    X(snd_device_name_get_hint)                                                                                        \
    X(snd_device_name_hint)                                                                                            \
    X(snd_lib_error_set_handler)                                                                                       \
    X(snd_pcm_avail_update)                                                                                            \
    X(snd_pcm_close)                                                                                                   \
    X(snd_pcm_delay)                                                                                                   \
    X(snd_pcm_drop)                                                                                                    \
    X(snd_pcm_hw_params)                                                                                               \
    X(snd_pcm_hw_params_any)                                                                                           \
    X(snd_pcm_hw_params_can_pause)                                                                                     \
    X(snd_pcm_hw_params_free)                                                                                          \
    X(snd_pcm_hw_params_get_buffer_size)                                                                               \
    X(snd_pcm_hw_params_get_period_size)                                                                               \
    X(snd_pcm_hw_params_malloc)                                                                                        \
    X(snd_pcm_hw_params_set_access)                                                                                    \
    X(snd_pcm_hw_params_set_buffer_time_near)                                                                          \
    X(snd_pcm_hw_params_set_channels)                                                                                  \
    X(snd_pcm_hw_params_set_format)                                                                                    \
    X(snd_pcm_hw_params_set_period_time_near)                                                                          \
    X(snd_pcm_hw_params_set_rate)                                                                                      \
    X(snd_pcm_hw_params_set_rate_near)                                                                                 \
    X(snd_pcm_hw_params_set_rate_resample)                                                                             \
    X(snd_pcm_hw_params_test_channels)                                                                                 \
    X(snd_pcm_hw_params_test_format)                                                                                   \
    X(snd_pcm_hw_params_test_rate)                                                                                     \
    X(snd_pcm_open)                                                                                                    \
    X(snd_pcm_pause)                                                                                                   \
    X(snd_pcm_poll_descriptors)                                                                                        \
    X(snd_pcm_poll_descriptors_count)                                                                                  \
    X(snd_pcm_poll_descriptors_revents)                                                                                \
    X(snd_pcm_prepare)                                                                                                 \
    X(snd_pcm_recover)                                                                                                 \
    X(snd_pcm_start)                                                                                                   \
    X(snd_pcm_state)                                                                                                   \
    X(snd_pcm_sw_params)                                                                                               \
    X(snd_pcm_sw_params_current)                                                                                       \
    X(snd_pcm_sw_params_free)                                                                                          \
    X(snd_pcm_sw_params_malloc)                                                                                        \
    X(snd_pcm_sw_params_set_avail_min)                                                                                 \
    X(snd_pcm_sw_params_set_start_threshold)                                                                           \
    X(snd_pcm_writei)

struct AlsaApi {
    VBMP3_ALSA_FUNCTIONS(VBMP3_API_MEMBER)
};

// libasound's functions, loaded on the first call; nullptr without libasound.  Any thread.
const AlsaApi *alsaApi();

// libasound's configuration is global to the process: every open and hint call reads it
// and frees it after, under this mutex, so that no cache outlives the PCMs that used it.
std::mutex &alsaConfigMutex();

// The ALSA output calling calls (which must outlive it) instead of libasound's own.
std::unique_ptr<Output> makeAlsaOutput(const std::string &device, const AlsaApi *calls);

} // namespace vbmp3
