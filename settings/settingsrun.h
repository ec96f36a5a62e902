// The worker threads of settings/ for one run of the program, and their owner: the writer
// of the settings file (SettingsSaver) and the pool on which the decoder library is asked
// for its devices (outputdevicechoice.h).
//
// The program makes one at start, before the settings are first read, and it goes at the
// end of the run, after the windows and everything else that saves: it waits for a device
// list underway, writes the saves still waiting and joins both threads.  While it lives,
// current() gives it; a load or read of the settings without one sees no saves waiting.
// One made while another lives stands in for it until it goes (a test's own run).  GUI
// thread.
#pragma once

#include "settingssaver.h"

#include <QThreadPool>

namespace kes
{

class SettingsRun
{
public:
    SettingsRun();
    ~SettingsRun();
    SettingsRun(const SettingsRun &) = delete;
    SettingsRun &operator=(const SettingsRun &) = delete;

    // The run made last and not yet gone; nullptr when there is none.
    static SettingsRun *current();

    SettingsSaver &saver() { return m_saver; }
    const SettingsSaver &saver() const { return m_saver; }
    // One thread, for the library's device list (asking a sound server may take a second).
    QThreadPool &devicePool() { return m_devicePool; }

private:
    SettingsRun *m_previous;
    SettingsSaver m_saver;
    QThreadPool m_devicePool;
};

} // namespace kes
