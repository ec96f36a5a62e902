// vbmp3_open reads its file without the library's lock: the other calls answer while an
// open is held inside its reading.  Built with the C interface's own source, so that the
// test reaches the engine's seam (Engine::preparingHook).
#include "engine/engine.h"
#include "enginetestsupport.h"
#include "vbmp3.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <vector>

namespace
{

using namespace std::chrono_literals;

// Holds the open of one path at the start of its reading until let go.
struct Gate {
    std::string path;
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    bool letGo = false;

    void pass(const std::string &opening)
    {
        if (opening != path)
            return;
        std::unique_lock lock(mutex);
        held = true;
        changed.notify_all();
        changed.wait(lock, [this] { return letGo; });
    }
    bool waitUntilHeld()
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 5s, [this] { return held; });
    }
    void release()
    {
        std::lock_guard lock(mutex);
        letGo = true;
        changed.notify_all();
    }
};

int frequencyOpen()
{
    OpenInfo info {};
    return vbmp3_getOpenInfo(&info) == 2 ? info.frequency : 0;
}

class HeldOpen : public LibrarySession
{
};

} // namespace

// While one thread's open is held, the other calls answer about the file open until then,
// another open comes through, and the held one, installed last, leaves its file open.
TEST_F(HeldOpen, OtherCallsAnswerAndTheLastInstalledWins)
{
    const std::string playing = writeFile(workDir() / "held-a.wav", pcmWav(8000, 1, std::string(8000 * 2 * 4, '\1')));
    const std::string held = writeFile(workDir() / "held-b.wav", pcmWav(16000, 1, std::string(16000 * 2, '\1')));
    const std::string other = writeFile(workDir() / "held-c.wav", pcmWav(22050, 1, std::string(22050 * 2, '\1')));
    ASSERT_EQ(vbmp3_setOutput("null"), 1);
    OpenInfo info {};
    ASSERT_EQ(vbmp3_open(playing.c_str(), &info), 1);
    ASSERT_EQ(vbmp3_play(), 1);

    Gate gate;
    gate.path = held;
    vbmp3::Engine::preparingHook = [&gate](const std::string &path) { gate.pass(path); };
    OpenInfo heldInfo {};
    auto heldOpen = std::async(std::launch::async, [&] { return vbmp3_open(held.c_str(), &heldInfo); });
    ASSERT_TRUE(gate.waitUntilHeld());

    struct Call {
        const char *name;
        std::function<int()> call;
        int expected;
    };
    const std::vector<Call> calls {
        { "getState", [] { return vbmp3_getState(nullptr); }, VBMP3_PLAYING },
        { "getPositionMs", [] { return vbmp3_getPositionMs() >= 0 ? 1 : 0; }, 1 },
        { "getOpenInfo", frequencyOpen, 8000 },
        { "open another", [&] { return vbmp3_open(other.c_str(), nullptr); }, 1 },
        { "the other's info", frequencyOpen, 22050 },
    };
    std::vector<std::future<int>> answers;
    for (const Call &c : calls) {
        answers.push_back(std::async(std::launch::async, c.call));
        // A call held behind the open fails the test here; the gate is let go below.
        if (answers.back().wait_for(5s) != std::future_status::ready) {
            ADD_FAILURE() << c.name << " waited for the held open";
            break;
        }
        EXPECT_EQ(answers.back().get(), c.expected) << c.name;
    }
    gate.release();
    EXPECT_EQ(heldOpen.get(), 1);
    vbmp3::Engine::preparingHook = nullptr;
    EXPECT_EQ(heldInfo.frequency, 16000);
    EXPECT_EQ(frequencyOpen(), 16000);
    EXPECT_EQ(vbmp3_getState(nullptr), VBMP3_STOPPED);
}
