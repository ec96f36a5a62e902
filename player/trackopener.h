// Opens tracks in the decoder library (vbmp3_open) on a thread of its own, one at a time,
// so that a slow open (a file on a network share, a long chained stream, a slow probe)
// never holds the GUI thread.  The newest request wins: a request still waiting behind a
// running open is replaced unopened by a newer one, and a running open whose request was
// replaced or given up is closed again on the opener's thread.  Each open that ran is
// reported on the owner's (GUI) thread, in order, by its ticket.
//
// While busy() the library holds no file the owner asked for (at most one it is opening, or
// one given up that is about to be closed), so the owner makes no call of the library's
// session meanwhile.  Every member is for the GUI thread but the worker's, noted below.
#pragma once

#include "decoderapi.h"

#include <QByteArray>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace kes
{

class TrackOpener : public QObject
{
public:
    // opened: the library holds the file open now for this ticket (false when it refused
    // it, or when the opener closed it again as given up); info as vbmp3_open filled it.
    using Report = std::function<void(uint64_t ticket, bool opened, const OpenInfo &info)>;

    // api's open and close are called on the opener's thread.
    TrackOpener(const DecoderApi &api, Report report, QObject *parent = nullptr);
    ~TrackOpener() override; // finish()

    // Asks for path to be opened once the running open (if any) is over; the ticket of the
    // request (never 0).  0 after finish().
    // range: the part of the file that is the track (a cue sheet's), opened with openRange.
    uint64_t open(const QByteArray &path, const std::optional<TrackRange> &range = std::nullopt);
    // The latest request is no longer wanted: one still waiting becomes a close (reported
    // with ticket 0), one running is closed again when it opens.  Its report (if it ran)
    // still comes.  Once the reports are in, the library holds no file of a request given
    // up or replaced, but one whose report came before it was given up: the owner closes
    // that one itself (or opens over it).
    void giveUp();
    // A request is waiting or running, or its report has not reached the owner yet.
    bool busy() const { return m_unreported > 0; }
    // Waits for the running open (the library is not freed under it), drops the waiting
    // one, ends the thread; no report comes after.  Runs once.
    void finish();

private:
    struct Request {
        uint64_t ticket = 0; // 0: a close
        QByteArray path;
        std::optional<TrackRange> range;
    };
    void run(); // the opener's thread
    void deliverLater(uint64_t ticket, bool opened, const OpenInfo &info); // the opener's thread
    void deliver(uint64_t ticket, bool opened, const OpenInfo &info);

    const decltype(DecoderApi::open) m_open;
    const decltype(DecoderApi::openRange) m_openRange;
    const decltype(DecoderApi::close) m_close;
    const Report m_report;

    std::mutex m_mutex; // guards m_waiting and m_ending
    std::condition_variable m_wake;
    std::optional<Request> m_waiting;
    bool m_ending = false;
    // The ticket whose open is wanted, 0 for none: set here, read by the opener's thread.
    std::atomic<uint64_t> m_wanted { 0 };

    uint64_t m_lastTicket = 0;
    int m_unreported = 0; // requests asked for whose report has not come (a replaced one counts no more)
    bool m_finished = false;
    std::thread m_thread; // started at the first request
};

} // namespace kes
