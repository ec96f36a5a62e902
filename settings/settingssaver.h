// Writes to the settings file, made off the GUI thread.
//
// writeIniEdits is the write itself: one load, the keys set in order, one atomic save and
// a read-back.  SettingsSaver hands such writes to a thread of its own, so that the GUI
// thread only says what to write and goes on: requests are written in the order they
// came; those waiting together are written in one save, a later value of a key replacing
// an earlier one (the latest state wins).  Until a request is written, readers of the file
// (ReadIni, LoadSettings) see its values as if it were.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kes
{

class IniFile;

// One key to write.
struct IniEdit {
    QString section;
    QString key;
    QString value;
    bool path = false; // a file name, kept as its bytes (IniFile::setPathValue)
};

// The outcome of a write: ok when the file was saved and every key reads back as it was
// written; unwritten holds "key = value" for each key whose value the file cannot hold
// (that key keeps its old value, the others are saved all the same).
struct SaveResult {
    bool ok = false;
    QStringList unwritten;
};

// Writes edits into the file at path at once; the file is not replaced when it cannot
// be read or when no key can be written.  Other sections, keys and comments are kept.
SaveResult writeIniEdits(const QString &path, const std::vector<IniEdit> &edits);

class SettingsSaver
{
public:
    using Done = std::function<void(const SaveResult &)>;
    using Id = uint64_t;

    // A file smaller than this is written quickly enough for the GUI thread to wait for
    // its result (waitIfSmall).
    static constexpr int64_t SmallFileBytes = 256 * 1024;

    // The saver of the run (SettingsRun::current(), which must exist); its thread starts
    // with the first request.
    static SettingsSaver &instance();

    SettingsSaver() = default;
    ~SettingsSaver(); // writes what is still waiting, then ends the thread
    SettingsSaver(const SettingsSaver &) = delete;
    SettingsSaver &operator=(const SettingsSaver &) = delete;

    // Hands edits of the file at path over and returns at once.  done, when given, is
    // called on the application's thread with this request's result (a key whose value a
    // later request replaced counts as written), unless context is gone by then.
    Id submit(const QString &path, std::vector<IniEdit> edits, QObject *context = nullptr, Done done = {});
    // A save the user asked for, as the GUI thread makes it: hands the edits over, then
    // waits for the result when the file is small (done has run when this returns), else
    // returns at once and done runs when the write has ended (waitIfSmall).
    Id save(const QString &path, std::vector<IniEdit> edits, QObject *context, Done done);
    // Waits up to limit for request id; when it is written, the results not yet told up to
    // it are told now (not later) and true is returned.
    bool wait(Id id, std::chrono::milliseconds limit);
    // wait(id, limit) when the file at path is missing or smaller than SmallFileBytes;
    // else false at once (the result is told when the write is done).
    bool waitIfSmall(Id id, const QString &path, std::chrono::milliseconds limit = std::chrono::seconds(1));
    // Waits up to limit until every request handed over so far is written; false when
    // some is still waiting.  Results are told later, on the application's thread.
    bool flush(std::chrono::milliseconds limit);
    // Sets the keys of the requests not yet written for path in ini, in their order.
    void applyPending(const QString &path, IniFile &ini) const;

private:
    struct Request {
        Id id = 0;
        QString path;
        std::vector<IniEdit> edits;
        QPointer<QObject> context;
        bool hasContext = false;
        Done done;
        bool written = false;
        bool told = false;
        SaveResult result;
    };

    void run();
    void writeBatch(std::vector<Request *> &batch);
    void post(Id id);
    void tellUpTo(Id id);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Request> m_requests; // in order; kept until written and told
    std::thread m_thread;
    Id m_nextId = 1;
    bool m_stopping = false;
};

} // namespace kes
