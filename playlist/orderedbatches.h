// Work cut into batches that run on worker threads, whose results come back to the owner's
// thread in the order the batches were submitted, however the workers finish.
//
// A line (OrderedBatches) is one such stream of batches; the lines of one owner share the
// workers of a BatchPool, which also cancels them all with one call.  Create, call and
// destroy both on the owner's thread, which runs an event loop; the pool first, the lines
// after it, and stop or shut down the pool before the lines go.
#pragma once

#include "backgroundthread.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

namespace kes
{

class OrderedBatches;

// Worker threads that give way to the GUI thread (nice +5), shared by lines.
class BatchPool
{
public:
    explicit BatchPool(int threads);
    BatchPool(const BatchPool &) = delete;
    BatchPool &operator=(const BatchPool &) = delete;

    int threads() const { return m_workers.maxThreadCount(); }
    // Cancels every line (OrderedBatches::cancel, with the owners' reactions); what an
    // owner submits while it reacts is new work and goes ahead.
    void cancelAll();
    // Cancels every line, refusing what the owners submit while they react (it is never
    // started and never comes back), and returns once no worker runs a batch any more.
    void stop();
    // For the owner's destructor: tells the running batches to give up, tells no owner,
    // and returns once no worker runs.  The lines are of no further use.
    void shutdown();

private:
    friend class OrderedBatches;
    BackgroundPool m_workers;
    QList<OrderedBatches *> m_lines;
    bool m_refusing = false; // within stop()
};

class OrderedBatches : public QObject
{
public:
    // What a batch hands over: runs on the owner's thread when the batch's turn comes.
    using Handover = std::function<void()>;
    // A batch, run on a worker.  It should look at cancelled between its steps and return
    // soon once it is set; what it returns then is dropped.
    using Work = std::function<Handover(const std::atomic_bool &cancelled)>;

    struct Pace {
        // One delivery runs handovers for at most this long (but at least one), then lets
        // the event loop run before it goes on.
        qint64 budgetMs;
        // Results that come back while other batches of the line are still out are
        // delivered at most this often (the last one out at once).
        qint64 gapMs = 0;
    };

    // priority: among the pool's queued batches, higher ones start first.
    OrderedBatches(BatchPool &pool, int priority, Pace pace);
    ~OrderedBatches() override;

    // Called on the owner's thread after a result came back and after each delivery (also
    // one cut short by a cancel): where the owner submits more or sees that all is done.
    void onSettled(std::function<void()> settled) { m_settled = std::move(settled); }
    // Called by cancel(), whoever cancels: where the owner drops what it kept for the line.
    void onCancelled(std::function<void()> cancelled) { m_cancelled = std::move(cancelled); }

    void submit(Work work);
    // From inside a handover only: work takes the place of the batch being handed over
    // (the rest of it, say), and the batches after it wait for its result.
    void again(Work work);
    // Drops every batch submitted so far, queued, running or waiting for its turn: none of
    // their handovers runs.  A running handover is finished, and the delivery ends after it.
    void cancel();

    // Batches submitted whose handover has not run yet.
    int outstanding() const { return static_cast<int>(m_nextSeq - m_nextDelivery); }
    // Batches on a worker or queued for one.
    int running() const { return m_running; }
    bool isDelivering() const { return m_delivering; }
    // Changes with every cancel().
    quint64 generation() const { return m_generation; }

private:
    friend class BatchPool;
    void drop(); // cancel() without telling the owner
    void start(quint64 seq, Work work);
    void arrived(quint64 generation, quint64 seq, Handover handover);
    void deliver();
    void deliverLater(qint64 ms); // once, however often asked before it runs

    BatchPool &m_pool;
    const int m_priority;
    const Pace m_pace;
    std::function<void()> m_settled;
    std::function<void()> m_cancelled;

    quint64 m_generation = 0; // results of an older generation are dropped
    std::shared_ptr<std::atomic_bool> m_cancelFlag; // set for the batches of older generations
    quint64 m_nextSeq = 0; // sequence number of the next batch submitted
    quint64 m_nextDelivery = 0; // sequence number of the next handover to run
    int m_running = 0;
    std::map<quint64, Handover> m_waiting; // came back, waiting for their turn
    Work m_again; // set by again() during a handover
    bool m_delivering = false;
    bool m_deliverArmed = false; // a deliver() is due on a timer
    QElapsedTimer m_sinceDelivered;
};

} // namespace kes
