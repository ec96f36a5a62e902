// The follower of a gapless join is handed to the library off the GUI thread: the newest
// request wins, and one no longer wanted when the library answers is undone.
#include "controllerfixture.h"

#include <algorithm>
#include <future>
#include <thread>
#include <utility>

using namespace kes;
using namespace Qt::StringLiterals;

namespace
{

class FollowerTest : public ControllerFixture
{
protected:
    void SetUp() override
    {
        ControllerFixture::SetUp();
        for (int i = 1; i <= 4; ++i)
            model.addRow(TrackRow { .fullPath = u"/music/%1.mp3"_s.arg(i) });
        c.watchRows(model);
    }
    void TearDown() override { f.queueHook = nullptr; }
};

} // namespace

// Row 1 plays and row 2 is being queued, held inside the library's reading of it, while
// the GUI thread goes on with a command; once the reading ends, the library holds what
// follows now.  No file is ever queued from the GUI thread.
TEST_F(FollowerTest, HeldQueueNewestWinsAndStaleIsUndone)
{
    const struct {
        const char *name;
        std::function<void()> meanwhile;
        std::vector<std::string> calls; // the library's queue calls, "" a clear
        std::string queued;
    } cases[] = {
        { "nothing", [] {}, { "/music/2.mp3" }, "/music/2.mp3" },
        { "row 2 unchecked", [&] { model.setChecked(2, false); }, { "/music/2.mp3", "", "/music/3.mp3" },
            "/music/3.mp3" },
        { "a change that keeps row 2", [&] { model.setChecked(4, false); }, { "/music/2.mp3" }, "/music/2.mp3" },
        { "stopped", [&] { c.StopTrack(); }, { "/music/2.mp3", "" }, "" },
        { "another row played", [&] { c.playRow(3, u"/music/3.mp3"_s); }, { "/music/2.mp3", "", "/music/4.mp3" },
            "/music/4.mp3" },
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        model.checkAll();
        std::promise<void> entered, letGo;
        std::shared_future<void> go = letGo.get_future().share();
        bool first = true;
        f.queueHook = [&](const std::string &) {
            if (std::exchange(first, false)) {
                entered.set_value();
                go.wait_for(std::chrono::seconds(2)); // a queue made on the GUI thread ends the hold by itself
            }
        };
        c.playRow(1, u"/music/1.mp3"_s);
        QCoreApplication::processEvents(); // the open's report asks for the follower
        while (c.opening())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
        {
            std::lock_guard lock(f.mutex);
            f.queueCalls.clear(); // the held call is recorded once it ends
        }
        k.meanwhile();
        QCoreApplication::processEvents(); // the refresh of a changed row
        letGo.set_value();
        settle();
        f.queueHook = nullptr;
        std::lock_guard lock(f.mutex);
        EXPECT_EQ(std::pair(f.queueCalls, f.queued), std::pair(k.calls, k.queued));
        EXPECT_EQ(std::ranges::count(f.queueThreads, std::this_thread::get_id()), 0) << "queued on the GUI thread";
        f.queueThreads.clear();
    }
}
