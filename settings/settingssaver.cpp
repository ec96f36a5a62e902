#include "settingssaver.h"

#include "inifile.h"
#include "pathbytes.h"
#include "settingsrun.h"

#include <QCoreApplication>
#include <QHash>
#include <QMetaObject>

#include <sys/stat.h>

#include <algorithm>

namespace kes
{

namespace
{

bool setEdit(IniFile &ini, const IniEdit &e)
{
    return e.path ? ini.setPathValue(e.section, e.key, e.value) : ini.setValue(e.section, e.key, e.value);
}

// Writes the edits of several requests in one save, a later value of a key replacing an
// earlier one; one result per request.
std::vector<SaveResult> writeMerged(const QString &path, const std::vector<const std::vector<IniEdit> *> &requests)
{
    std::vector<SaveResult> results(requests.size());
    struct Merged {
        const IniEdit *edit;
        size_t owner;
    };
    std::vector<Merged> merged;
    QHash<QString, size_t> at; // section and key, as the file matches them: without case
    for (size_t r = 0; r < requests.size(); ++r) {
        for (const IniEdit &e : *requests[r]) {
            const QString name = e.section.trimmed().toCaseFolded() + u'\n' + e.key.trimmed().toCaseFolded();
            if (const auto it = at.constFind(name); it != at.cend()) {
                merged[*it] = { &e, r };
            } else {
                at.insert(name, merged.size());
                merged.push_back({ &e, r });
            }
        }
    }

    IniFile ini;
    // A file that exists but cannot be read is not replaced by one holding only our keys.
    if (!ini.load(path))
        return results;
    std::vector<const Merged *> written;
    for (const Merged &m : merged) {
        if (setEdit(ini, *m.edit))
            written.push_back(&m);
        else
            results[m.owner].unwritten << m.edit->key + QStringLiteral(" = ") + m.edit->value;
    }
    if (written.empty() || !ini.save(path))
        return results;

    // The read-back of every key decides, as the file now stands on disk.
    IniFile saved;
    if (!saved.load(path))
        return results;
    std::vector<bool> readBack(requests.size(), true);
    for (const Merged *m : written) {
        const IniEdit &e = *m->edit;
        const std::optional<QString> back
            = e.path && hasEscapedBytes(e.value) ? saved.pathValue(e.section, e.key) : saved.value(e.section, e.key);
        if (back != std::optional<QString>(e.value))
            readBack[m->owner] = false;
    }
    for (size_t r = 0; r < results.size(); ++r)
        results[r].ok = readBack[r] && results[r].unwritten.isEmpty();
    return results;
}

} // namespace

SaveResult writeIniEdits(const QString &path, const std::vector<IniEdit> &edits)
{
    return writeMerged(path, { &edits }).front();
}

SettingsSaver &SettingsSaver::instance()
{
    SettingsRun *run = SettingsRun::current();
    if (!run)
        qFatal("kestrine: settings saved outside a run (SettingsRun)");
    return run->saver();
}

SettingsSaver::~SettingsSaver()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

SettingsSaver::Id SettingsSaver::submit(const QString &path, std::vector<IniEdit> edits, QObject *context, Done done)
{
    std::lock_guard lock(m_mutex);
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    Request &r = m_requests.emplace_back();
    r.id = m_nextId++;
    r.path = path;
    r.edits = std::move(edits);
    r.context = context;
    r.hasContext = context != nullptr;
    r.done = std::move(done);
    m_changed.notify_all();
    return r.id;
}

SettingsSaver::Id SettingsSaver::save(const QString &path, std::vector<IniEdit> edits, QObject *context, Done done)
{
    const Id id = submit(path, std::move(edits), context, std::move(done));
    waitIfSmall(id, path);
    return id;
}

void SettingsSaver::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        const auto waiting = [this] {
            return std::find_if(m_requests.begin(), m_requests.end(), [](const Request &r) { return !r.written; });
        };
        m_changed.wait(lock, [&] { return m_stopping || waiting() != m_requests.end(); });
        const auto first = waiting();
        if (first == m_requests.end())
            return; // stopping, and everything is written
        // The requests of one file waiting now go in one save.  A request is only
        // appended while this runs, so the pointers stay valid.
        std::vector<Request *> batch;
        std::vector<const std::vector<IniEdit> *> edits;
        for (auto it = first; it != m_requests.end(); ++it) {
            if (!it->written && it->path == first->path) {
                batch.push_back(&*it);
                edits.push_back(&it->edits);
            }
        }
        const QString path = first->path;
        lock.unlock();
        std::vector<SaveResult> results = writeMerged(path, edits);
        lock.lock();
        for (size_t i = 0; i < batch.size(); ++i) {
            batch[i]->result = std::move(results[i]);
            batch[i]->written = true;
            batch[i]->told = !batch[i]->done;
            if (batch[i]->done)
                post(batch[i]->id);
        }
        while (!m_requests.empty() && m_requests.front().written && m_requests.front().told)
            m_requests.pop_front();
        m_changed.notify_all();
    }
}

void SettingsSaver::post(Id id)
{
    // Posted to the application, which outlives the window that asked.
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [this, id] { tellUpTo(id); }, Qt::QueuedConnection);
}

void SettingsSaver::tellUpTo(Id id)
{
    struct Call {
        Done done;
        QPointer<QObject> context;
        bool hasContext;
        SaveResult result;
    };
    std::vector<Call> calls;
    {
        std::lock_guard lock(m_mutex);
        for (Request &r : m_requests) {
            if (r.id > id)
                break;
            if (r.written && !r.told) {
                r.told = true;
                calls.push_back({ std::move(r.done), r.context, r.hasContext, r.result });
            }
        }
        while (!m_requests.empty() && m_requests.front().written && m_requests.front().told)
            m_requests.pop_front();
    }
    for (const Call &c : calls) {
        if (!c.hasContext || c.context)
            c.done(c.result);
    }
}

bool SettingsSaver::wait(Id id, std::chrono::milliseconds limit)
{
    {
        std::unique_lock lock(m_mutex);
        const bool written = m_changed.wait_for(lock, limit, [&] {
            const auto it
                = std::find_if(m_requests.begin(), m_requests.end(), [id](const Request &r) { return r.id == id; });
            return it == m_requests.end() || it->written;
        });
        if (!written)
            return false;
    }
    tellUpTo(id);
    return true;
}

bool SettingsSaver::waitIfSmall(Id id, const QString &path, std::chrono::milliseconds limit)
{
    struct stat st {
    };
    if (::stat(pathToBytes(path).constData(), &st) == 0 && st.st_size >= SmallFileBytes)
        return false;
    return wait(id, limit);
}

bool SettingsSaver::flush(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, limit, [this] {
        return std::all_of(m_requests.begin(), m_requests.end(), [](const Request &r) { return r.written; });
    });
}

void SettingsSaver::applyPending(const QString &path, IniFile &ini) const
{
    std::lock_guard lock(m_mutex);
    for (const Request &r : m_requests) {
        if (r.written || r.path != path)
            continue;
        for (const IniEdit &e : r.edits)
            setEdit(ini, e);
    }
}

} // namespace kes
