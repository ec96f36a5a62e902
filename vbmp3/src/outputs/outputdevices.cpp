// The sound server's sinks, and the order in which "auto" tries the devices.
#include "outputdevices.h"

#include "common/runtimelib.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <map>
#include <thread>

namespace vbmp3
{
namespace
{

using namespace std::chrono_literals;

#define VBMP3_PULSE_LIST_FUNCTIONS(X)                                                                                  \
    X(pa_context_connect)                                                                                              \
    X(pa_context_disconnect)                                                                                           \
    X(pa_context_get_sink_info_list)                                                                                   \
    X(pa_context_get_state)                                                                                            \
    X(pa_context_new)                                                                                                  \
    X(pa_context_unref)                                                                                                \
    X(pa_mainloop_free)                                                                                                \
    X(pa_mainloop_get_api)                                                                                             \
    X(pa_mainloop_iterate)                                                                                             \
    X(pa_mainloop_new)                                                                                                 \
    X(pa_operation_get_state)                                                                                          \
    X(pa_operation_unref)

struct PulseListApi {
    VBMP3_PULSE_LIST_FUNCTIONS(VBMP3_API_MEMBER)
};

constexpr auto kServerTimeout = 1000ms;

} // namespace

std::vector<OutputDevice> pulseDevices()
{
    std::vector<OutputDevice> devices;
    const PulseListApi *pa = loadApi<PulseListApi>("libpulse.so.0",
        [](void *lib, PulseListApi &api) { return VBMP3_PULSE_LIST_FUNCTIONS(VBMP3_API_RESOLVE) true; });
    if (!pa)
        return devices;
    pa_mainloop *loop = pa->pa_mainloop_new();
    if (!loop)
        return devices;
    pa_context *context = pa->pa_context_new(pa->pa_mainloop_get_api(loop), "kestrine");
    // Runs the loop without blocking until done() or the timeout; false on the timeout.
    const auto runUntil = [&](auto done) {
        for (const auto until = std::chrono::steady_clock::now() + kServerTimeout; !done();) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            if (pa->pa_mainloop_iterate(loop, 0, nullptr) == 0)
                std::this_thread::sleep_for(2ms);
        }
        return true;
    };
    if (context && pa->pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        const bool ready = runUntil([&] {
            const auto state = pa->pa_context_get_state(context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        }) && pa->pa_context_get_state(context) == PA_CONTEXT_READY;
        if (ready) {
            const auto onSink = [](pa_context *, const pa_sink_info *info, int last, void *list) {
                if (last == 0 && info && info->name)
                    static_cast<std::vector<OutputDevice> *>(list)->push_back({ std::string("pulse:") + info->name,
                        info->description && *info->description ? info->description : info->name });
            };
            if (pa_operation *op = pa->pa_context_get_sink_info_list(context, onSink, &devices)) {
                if (!runUntil([&] { return pa->pa_operation_get_state(op) != PA_OPERATION_RUNNING; }))
                    devices.clear(); // a partial list is no list
                pa->pa_operation_unref(op);
            }
        }
        pa->pa_context_disconnect(context);
    }
    if (context)
        pa->pa_context_unref(context);
    pa->pa_mainloop_free(loop);
    return devices;
}

std::vector<OutputDevice> outputDevices()
{
    std::vector<OutputDevice> devices = pulseDevices();
    for (OutputDevice &device : alsaDevices())
        devices.push_back(std::move(device));
    std::map<std::string, int> uses;
    for (const OutputDevice &device : devices)
        ++uses[device.description];
    for (OutputDevice &device : devices)
        if (uses[device.description] > 1)
            device.description += " (" + device.id.substr(device.id.find(':') + 1) + ")";
    return devices;
}

std::unique_ptr<Output> openDefaultOutput(
    const OutputFormat &format, const std::string &tried, const std::function<void(Output &)> &prepare)
{
    const auto opened = [&](std::unique_ptr<Output> out) {
        if (prepare)
            prepare(*out);
        if (out->open(format))
            return out;
        out->close();
        return std::unique_ptr<Output>();
    };
    if (!tried.empty())
        if (auto server = opened(makePulseOutput()))
            return server;
    if (tried != "alsa:default")
        if (auto alsa = opened(makeAlsaOutput()))
            return alsa;
    auto null = makeNullOutput();
    if (prepare)
        prepare(*null);
    null->open(format);
    return null;
}

} // namespace vbmp3
