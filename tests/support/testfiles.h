// File helpers shared by the tests: whole-file reads and writes, and running a call under
// a file size limit (a disk that fills up) or without the right to override file modes.
#pragma once

#include <QFile>
#include <QString>
#include <QtEndian>

#include <gtest/gtest.h>

#include <csignal>
#include <linux/capability.h>
#include <optional>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

inline void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A WAV file of `seconds` of 16-bit stereo silence at 44.1 kHz.
inline QByteArray silentWav(int seconds)
{
    const auto le32 = [](quint32 v) {
        QByteArray b(4, '\0');
        qToLittleEndian(v, b.data());
        return b;
    };
    const quint32 data = quint32(seconds) * 44100 * 4;
    return "RIFF" + le32(36 + data)
        + QByteArray::fromHex("57415645666d7420100000000100020044ac000010b102000400100064617461") + le32(data)
        + QByteArray(qsizetype(data), '\0');
}

// Runs call() with writes limited to `bytes` per file; the limit binds root too.
template <typename Call> auto withFileSizeLimit(rlim_t bytes, Call call)
{
    rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &small);
    const auto result = call();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    return result;
}

// Runs call() in a child process that has lost the capabilities with which root ignores
// file modes, so that read-only files and folders hold as they do for a user. Returns
// what call() returned; nullopt when the child could not run it.
template <typename Call> std::optional<bool> withoutFileRights(Call call)
{
    const pid_t child = fork();
    if (child == 0) {
        __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
        __user_cap_data_struct caps[2] {};
        if (syscall(SYS_capget, &header, caps) != 0)
            _exit(2);
        const unsigned dropped = ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        caps[0].effective &= dropped;
        caps[0].permitted &= dropped;
        if (syscall(SYS_capset, &header, caps) != 0)
            _exit(2);
        _exit(call() ? 1 : 0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
        return std::nullopt;
    return WEXITSTATUS(status) == 1;
}
