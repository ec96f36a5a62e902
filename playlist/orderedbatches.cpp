#include "orderedbatches.h"

#include <QTimer>

#include <utility>

namespace kes
{

BatchPool::BatchPool(int threads)
{
    m_workers.setMaxThreadCount(threads);
}

void BatchPool::cancelAll()
{
    // Every line is cancelled before any owner reacts, so that what one owner submits to
    // another's line is not cancelled with the rest.
    const QList<OrderedBatches *> lines = m_lines;
    for (OrderedBatches *line : lines)
        line->drop();
    for (OrderedBatches *line : lines)
        if (line->m_cancelled)
            line->m_cancelled();
}

void BatchPool::stop()
{
    m_refusing = true;
    cancelAll();
    m_refusing = false;
    m_workers.clear(); // only cancelled batches are queued
    m_workers.waitForDone();
}

void BatchPool::shutdown()
{
    for (OrderedBatches *line : std::as_const(m_lines))
        line->m_cancelFlag->store(true);
    m_workers.clear();
    m_workers.waitForDone();
}

OrderedBatches::OrderedBatches(BatchPool &pool, int priority, Pace pace)
    : m_pool(pool)
    , m_priority(priority)
    , m_pace(pace)
    , m_cancelFlag(std::make_shared<std::atomic_bool>(false))
{
    m_pool.m_lines.append(this);
}

OrderedBatches::~OrderedBatches()
{
    m_cancelFlag->store(true);
    m_pool.m_lines.removeOne(this);
}

void OrderedBatches::submit(Work work)
{
    if (m_pool.m_refusing)
        return;
    start(m_nextSeq++, std::move(work));
}

void OrderedBatches::again(Work work)
{
    m_again = std::move(work);
}

void OrderedBatches::start(quint64 seq, Work work)
{
    ++m_running;
    m_pool.m_workers.start(
        [this, generation = m_generation, seq, cancelled = m_cancelFlag, work = std::move(work)] {
            if (cancelled->load())
                return;
            Handover handover = work(*cancelled);
            if (cancelled->load())
                return;
            QMetaObject::invokeMethod(
                this,
                [this, generation, seq, handover = std::move(handover)]() mutable {
                    arrived(generation, seq, std::move(handover));
                },
                Qt::QueuedConnection);
        },
        m_priority);
}

void OrderedBatches::cancel()
{
    drop();
    if (m_cancelled)
        m_cancelled();
}

void OrderedBatches::drop()
{
    m_cancelFlag->store(true);
    m_cancelFlag = std::make_shared<std::atomic_bool>(false);
    ++m_generation;
    m_waiting.clear();
    m_again = {};
    m_running = 0;
    m_nextDelivery = m_nextSeq;
}

void OrderedBatches::arrived(quint64 generation, quint64 seq, Handover handover)
{
    if (generation != m_generation)
        return;
    --m_running;
    m_waiting.emplace(seq, std::move(handover));
    if (m_settled)
        m_settled(); // the workers go on while these results wait for their turn
    if (generation != m_generation)
        return;
    const qint64 since = m_sinceDelivered.isValid() ? m_sinceDelivered.elapsed() : m_pace.gapMs;
    if (m_running == 0 || since >= m_pace.gapMs)
        deliver();
    else
        deliverLater(m_pace.gapMs - since);
}

void OrderedBatches::deliverLater(qint64 ms)
{
    if (m_deliverArmed)
        return;
    m_deliverArmed = true;
    QTimer::singleShot(ms, this, [this] {
        m_deliverArmed = false;
        deliver();
    });
}

void OrderedBatches::deliver()
{
    if (m_delivering)
        return;
    m_delivering = true;
    const quint64 generation = m_generation;
    QElapsedTimer spent;
    spent.start();
    for (auto it = m_waiting.find(m_nextDelivery); it != m_waiting.end(); it = m_waiting.find(m_nextDelivery)) {
        if (spent.elapsed() >= m_pace.budgetMs) {
            deliverLater(0); // the rest after the events that waited meanwhile
            break;
        }
        const Handover handover = std::move(it->second);
        m_waiting.erase(it);
        ++m_nextDelivery;
        m_sinceDelivered.start();
        if (handover)
            handover();
        if (generation != m_generation)
            break; // cancelled by the handover or by someone reacting to it
        if (m_again) {
            start(--m_nextDelivery, std::exchange(m_again, {}));
            break;
        }
    }
    m_again = {};
    m_delivering = false;
    if (m_settled)
        m_settled();
}

} // namespace kes
