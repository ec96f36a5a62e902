// Ordered batches: submission order, redo in place, cancels, and pacing that keeps the event loop running.
#include "orderedbatches.h"
#include "playlisttestsupport.h"

#include <QDeadlineTimer>
#include <QTest>

#include <thread>

namespace
{

using namespace std::chrono_literals;
using Handover = OrderedBatches::Handover;

// Work that sleeps or waits until open (5 s at most) or cancelled, then hands over its name.
struct Recorder {
    QStringList log;
    std::atomic_bool open { false };

    OrderedBatches::Work work(const QString &name, std::chrono::milliseconds sleep = 0ms, bool gated = false)
    {
        return [this, name, sleep, gated](const std::atomic_bool &cancelled) -> Handover {
            std::this_thread::sleep_for(sleep);
            const QDeadlineTimer limit(5000);
            while (gated && !open.load() && !cancelled.load() && !limit.hasExpired())
                std::this_thread::sleep_for(1ms);
            return [this, name] { log << name; };
        };
    }
};

class BatchesTest : public ::testing::Test
{
protected:
    void SetUp() override { testApp(); }
    BatchPool pool { 2 };
    Recorder rec;
};

} // namespace

TEST_F(BatchesTest, HandoversRunInSubmissionOrderAndRedoneWorkKeepsItsPlace)
{
    OrderedBatches line(pool, 0, { 1000 });
    bool redone = false;
    line.submit(rec.work("slow", 60ms));
    line.submit([&](const std::atomic_bool &) -> Handover {
        return [&] {
            rec.log << (redone ? "second try" : "first try");
            if (!redone)
                line.again(rec.work("rest", 40ms)); // the batch after it comes back meanwhile
            redone = true;
        };
    });
    line.submit(rec.work("fast"));
    EXPECT_EQ(line.outstanding(), 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return line.outstanding() == 0; }, 5000));
    EXPECT_EQ(rec.log, QStringList({ "slow", "first try", "rest", "fast" }));
    EXPECT_EQ(line.running(), 0);
}

// A cancelling handover drops what waits and the redo, tells the owner once, and the line takes new work.
TEST_F(BatchesTest, CancelFromAHandoverDropsTheRest)
{
    OrderedBatches line(pool, 0, { 1000 });
    int cancels = 0;
    line.onCancelled([&] { ++cancels; });
    line.submit(rec.work("late", 50ms));
    line.submit([&](const std::atomic_bool &) -> Handover {
        return [&] {
            rec.log << "cancels";
            line.cancel();
            line.again(rec.work("redone"));
        };
    });
    line.submit(rec.work("dropped"));
    line.submit(rec.work("dropped too", 0ms, true)); // still running when cancelled
    ASSERT_TRUE(QTest::qWaitFor([&] { return cancels > 0; }, 5000));
    EXPECT_EQ(line.outstanding(), 0);
    line.submit(rec.work("new"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return line.outstanding() == 0; }, 5000));
    testApp().processEvents();
    EXPECT_EQ(rec.log, QStringList({ "late", "cancels", "new" }));
    EXPECT_EQ(cancels, 1);
}

// Handovers piled behind a slow batch go a budget at a time: an event posted by the first runs before the last.
TEST_F(BatchesTest, ALongDeliveryLetsTheEventLoopIn)
{
    OrderedBatches line(pool, 0, { 10 });
    QObject context;
    line.submit([&](const std::atomic_bool &) -> Handover {
        std::this_thread::sleep_for(100ms);
        return [&] {
            rec.log << "first";
            QMetaObject::invokeMethod(
                &context, [&] { rec.log << "event"; }, Qt::QueuedConnection);
        };
    });
    for (int i = 0; i < 5; ++i)
        line.submit([&, i](const std::atomic_bool &) -> Handover {
            return [&, i] {
                std::this_thread::sleep_for(6ms);
                rec.log << QString::number(i);
            };
        });
    ASSERT_TRUE(QTest::qWaitFor([&] { return rec.log.size() == 7; }, 5000));
    EXPECT_EQ(rec.log.first(), "first");
    EXPECT_LT(rec.log.indexOf("event"), 6) << rec.log.join(' ').toStdString();
    rec.log.removeAll("event");
    EXPECT_EQ(rec.log, QStringList({ "first", "0", "1", "2", "3", "4" }));
}

// With a gap, a result waits while another batch is out; the last one out goes at once with it.
TEST_F(BatchesTest, ResultsWaitForTheGapExceptTheLast)
{
    OrderedBatches line(pool, 0, { 1000, 60000 });
    line.submit(rec.work("first"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return line.outstanding() == 0; }, 5000)); // the first at once
    line.submit(rec.work("waits"));
    line.submit(rec.work("last", 0ms, true));
    QTest::qWait(300);
    EXPECT_EQ(rec.log, QStringList({ "first" }));
    rec.open = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return line.outstanding() == 0; }, 5000));
    EXPECT_EQ(rec.log, QStringList({ "first", "waits", "last" }));
}

// cancelAll() reaches every line; work submitted while reacting goes ahead; stop() refuses it and returns.
TEST_F(BatchesTest, OneCallCancelsEveryLineOfThePool)
{
    for (const bool stopping : { false, true }) {
        rec.log.clear();
        OrderedBatches rows(pool, 1, { 1000 });
        OrderedBatches tags(pool, 0, { 1000 });
        rows.onCancelled([&] { tags.submit(rec.work("after")); });
        rows.submit(rec.work("rows", 0ms, true));
        tags.submit(rec.work("tags", 0ms, true));
        const QDeadlineTimer soon(2000);
        if (stopping)
            pool.stop();
        else
            pool.cancelAll();
        EXPECT_FALSE(soon.hasExpired()) << stopping;
        EXPECT_EQ(rows.outstanding(), 0) << stopping;
        EXPECT_EQ(tags.outstanding(), stopping ? 0 : 1) << stopping;
        EXPECT_TRUE(QTest::qWaitFor([&] { return tags.outstanding() == 0; }, 5000)) << stopping;
        testApp().processEvents();
        EXPECT_EQ(rec.log, stopping ? QStringList() : QStringList({ "after" })) << stopping;
        pool.stop(); // no worker runs when the lines go
    }
}
