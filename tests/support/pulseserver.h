// A private PulseAudio server with a null sink for one test; PULSE_SERVER points at it
// while the object lives.  ok() is false when pulseaudio is missing or did not start (the
// test skips).  stop() ends it at once, as a sound server that goes away.  sinkArguments
// are given to the null sink ("null"), e.g. "format=s32le rate=96000".
#pragma once

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

class PulseServer
{
public:
    explicit PulseServer(const std::string &sinkArguments = {})
    {
        if (const char *saved = std::getenv("PULSE_SERVER"))
            m_saved = saved;
        const std::string socket = (runtime() / "pulse.sock").string(), home = "'" + runtime().string() + "'";
        std::filesystem::remove(socket);
        std::filesystem::remove(pidFile()); // of a server an earlier test ended
        // As a daemon, which returns once it takes connections and leaves its process id behind.
        const std::string command = "XDG_RUNTIME_DIR=" + home + " HOME=" + home
            + " pulseaudio -D -n --exit-idle-time=-1 --system=false -L 'module-null-sink " + sinkArguments
            + "' -L 'module-native-protocol-unix socket=" + socket + " auth-anonymous=1' >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0 && (std::ifstream(pidFile()) >> m_pid))
            setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
        else
            stop();
    }
    ~PulseServer()
    {
        stop();
        m_saved ? setenv("PULSE_SERVER", m_saved->c_str(), 1) : unsetenv("PULSE_SERVER");
    }
    bool ok() const { return m_pid > 0; }
    void stop()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            // The killed daemon may linger unreaped with its pid file, and the next server
            // would take it for one already running.
            std::error_code error;
            std::filesystem::remove(pidFile(), error);
        }
        m_pid = -1;
    }

private:
    // The servers' folder, one per test program, removed at its end.
    static const std::filesystem::path &runtime()
    {
        static const struct Folder {
            std::string name = (std::filesystem::temp_directory_path() / "kestrine-pulse-XXXXXX").string();
            std::filesystem::path path = mkdtemp(name.data()) ? name : std::string();
            mutable std::error_code error;
            ~Folder() { std::filesystem::remove_all(path, error); }
        } folder;
        return folder.path;
    }
    static std::filesystem::path pidFile() { return runtime() / "pulse" / "pid"; }

    int m_pid = -1;
    std::optional<std::string> m_saved; // PULSE_SERVER before
};
