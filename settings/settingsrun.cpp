#include "settingsrun.h"

#include <atomic>

namespace kes
{

namespace
{
// Set and read on the GUI thread; atomic because a reader of the settings file may run elsewhere.
std::atomic<SettingsRun *> g_current { nullptr };
} // namespace

SettingsRun::SettingsRun()
    : m_previous(g_current.load())
{
    m_devicePool.setMaxThreadCount(1);
    g_current = this;
}

SettingsRun::~SettingsRun()
{
    g_current = m_previous;
    // The list's answer is posted to the application, which drops it once its window is gone.
    m_devicePool.waitForDone();
    // m_saver's destructor writes what is still waiting and joins its thread.
}

SettingsRun *SettingsRun::current()
{
    return g_current.load();
}

} // namespace kes
