#include "trackopener.h"

#include <utility>

namespace kes
{

TrackOpener::TrackOpener(const DecoderApi &api, Report report, QObject *parent)
    : QObject(parent)
    , m_open(api.open)
    , m_openRange(api.openRange)
    , m_close(api.close)
    , m_report(std::move(report))
{
}

TrackOpener::~TrackOpener()
{
    finish();
}

uint64_t TrackOpener::open(const QByteArray &path, const std::optional<TrackRange> &range)
{
    if (m_finished)
        return 0;
    const uint64_t ticket = ++m_lastTicket;
    m_wanted = ticket;
    {
        std::lock_guard lock(m_mutex);
        if (!m_waiting)
            ++m_unreported;
        m_waiting = Request { ticket, path, range };
    }
    m_wake.notify_one();
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    return ticket;
}

void TrackOpener::giveUp()
{
    m_wanted = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_waiting)
            return; // the running open, if any, is closed again when it ends
        // Instead of the waiting open: a close, for what an older open (reported or not
        // yet) may have left open, counting on this one to open over it.
        m_waiting = Request {};
    }
    m_wake.notify_one();
}

void TrackOpener::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_wanted = 0;
    {
        std::lock_guard lock(m_mutex);
        m_ending = true;
        m_waiting.reset();
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    m_unreported = 0;
}

void TrackOpener::run()
{
    for (;;) {
        Request request;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_ending || m_waiting; });
            if (m_ending)
                return;
            request = std::move(*m_waiting);
            m_waiting.reset();
        }
        OpenInfo info {};
        if (request.ticket == 0) {
            m_close();
            deliverLater(0, false, info);
            continue;
        }
        bool opened = (request.range ? m_openRange(request.path.constData(), &*request.range, &info)
                                     : m_open(request.path.constData(), &info))
            != 0;
        // Given up meanwhile: the library holds nothing for it.  A request that gives
        // this one up afterwards finds the report stale and closes it on the owner's
        // thread, or opens over it.
        if (opened && m_wanted.load() != request.ticket) {
            m_close();
            opened = false;
        }
        deliverLater(request.ticket, opened, info);
    }
}

void TrackOpener::deliverLater(uint64_t ticket, bool opened, const OpenInfo &info)
{
    QMetaObject::invokeMethod(
        this, [this, ticket, opened, info] { deliver(ticket, opened, info); }, Qt::QueuedConnection);
}

void TrackOpener::deliver(uint64_t ticket, bool opened, const OpenInfo &info)
{
    if (m_finished)
        return;
    --m_unreported;
    m_report(ticket, opened, info);
}

} // namespace kes
