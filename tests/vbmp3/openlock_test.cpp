// vbmp3_open reads its file without the library's lock.  Built with the C interface's own
// source, so that the test reaches the engine's seam (Engine::preparingHook).
#include "engine/engine.h"
#include "enginetestsupport.h"

#include <future>
#include <thread>

namespace
{

int frequencyOpen()
{
    OpenInfo info {};
    return vbmp3_getOpenInfo(&info) == 2 ? info.frequency : 0;
}

std::string wav(const char *name, uint32_t rate)
{
    return writeFile(workDir() / name, pcmWav(rate, 1, std::string(rate * 4, '\1')));
}

using HeldOpen = LibrarySession;

} // namespace

// While one thread's open is held inside its reading, the other calls answer about the file
// open until then and another open comes through; the held one, installed last, stays open.
TEST_F(HeldOpen, OtherCallsAnswerAndTheLastInstalledWins)
{
    const std::string playing = wav("held-a.wav", 8000), held = wav("held-b.wav", 16000);
    const std::string other = wav("held-c.wav", 22050);
    ASSERT_EQ(vbmp3_setOutput("null") + vbmp3_open(playing.c_str(), nullptr) + vbmp3_play(), 3);
    std::promise<void> entered, letGo;
    const std::shared_future<void> go = letGo.get_future().share();
    vbmp3::Engine::preparingHook = [&](const std::string &path) {
        if (path == held)
            entered.set_value(), go.wait();
    };
    auto heldOpen = std::async(std::launch::async, [&] { return vbmp3_open(held.c_str(), nullptr); });
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const std::pair<const char *, std::function<int()>> calls[] = {
        { "getState", [] { return vbmp3_getState(nullptr) == VBMP3_PLAYING && vbmp3_getPositionMs() >= 0; } },
        { "getOpenInfo", [] { return frequencyOpen() == 8000; } },
        { "open another", [&] { return vbmp3_open(other.c_str(), nullptr) == 1 && frequencyOpen() == 22050; } },
    };
    std::vector<std::future<int>> answers; // a call held behind the open ends once the gate is let go below
    for (const auto &[name, call] : calls) {
        answers.push_back(std::async(std::launch::async, call));
        if (answers.back().wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << name << " waited for the held open";
            break;
        }
        EXPECT_TRUE(answers.back().get()) << name;
    }
    letGo.set_value();
    EXPECT_EQ(heldOpen.get(), 1);
    vbmp3::Engine::preparingHook = nullptr;
    EXPECT_EQ(frequencyOpen(), 16000);
    EXPECT_EQ(vbmp3_getState(nullptr), VBMP3_STOPPED);
}

// While a queue is held inside its reading, the other calls answer, a track opened
// meanwhile comes through, and the held queue, read again for the new track, follows it:
// the join that ends the open track goes into the file queued.
TEST_F(HeldOpen, AQueueHeldInItsReadingHoldsNothingUp)
{
    const std::string playing = wav("queue-a.wav", 8000), held = wav("queue-b.wav", 16000);
    const std::string other = wav("queue-c.wav", 22050), reopened = wav("queue-d.wav", 11025);
    ASSERT_EQ(vbmp3_setOutput("null") + vbmp3_open(playing.c_str(), nullptr) + vbmp3_play(), 3);
    std::promise<void> entered, letGo;
    std::atomic<int> reads = 0;
    const std::shared_future<void> go = letGo.get_future().share();
    vbmp3::Engine::preparingHook = [&](const std::string &path) {
        if (path == held && reads++ == 0)
            entered.set_value(), go.wait();
    };
    auto heldQueue = std::async(std::launch::async, [&] { return vbmp3_queueNext(held.c_str()); });
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const std::pair<const char *, std::function<int()>> calls[] = {
        { "getState", [] { return vbmp3_getState(nullptr) == VBMP3_PLAYING && vbmp3_getPositionMs() >= 0; } },
        { "queue another", [&] { return vbmp3_queueNext(other.c_str()) == 1 && frequencyOpen() == 8000; } },
        { "open another", [&] { return vbmp3_open(reopened.c_str(), nullptr) == 1 && frequencyOpen() == 11025; } },
    };
    std::vector<std::future<int>> answers;
    for (const auto &[name, call] : calls) {
        answers.push_back(std::async(std::launch::async, call));
        if (answers.back().wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            ADD_FAILURE() << name << " waited for the held queue";
            break;
        }
        EXPECT_TRUE(answers.back().get()) << name;
    }
    letGo.set_value();
    EXPECT_EQ(heldQueue.get(), 1);
    vbmp3::Engine::preparingHook = nullptr;
    EXPECT_EQ(reads.load(), 2) << "read again for the track opened meanwhile";
    ASSERT_EQ(vbmp3_play(), 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (frequencyOpen() != 16000 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(frequencyOpen(), 16000) << "the held queue joined the reopened track";
}
