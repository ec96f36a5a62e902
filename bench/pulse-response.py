#!/usr/bin/env python3
"""pulse-response.py [BIN] [RUNS]: how soon what the user does is heard through the sound server.

The library (BIN/libvbmp3.so.1, default build/bin) plays a 1 kHz tone into a private
PulseAudio server's null sink with the player's buffer options; a recorder takes the sink's
monitor.  At set moments it changes the equalizer (the 1 kHz band to -12 dB and back), the
volume (to a quarter and back), pauses and resumes, and seeks into the file's silent end.
Each response is the time from the call to the first 5 ms of the monitor that shows the
change (the level half-way from before to after, in dB); the monitor's samples are put on
the clock by their arrival (each sample is heard no later than it arrives; the earliest
arrival fixes the line).  Prints the median of RUNS runs per action, in milliseconds.
Needs pulseaudio, pulseaudio-utils (parec) and sox.
"""
import ctypes
import math
import os
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

RATE = 44100
BLOCK = RATE // 200  # 5 ms


def start_server(tmp):
    run = os.path.join(tmp, "rt")
    os.makedirs(run, mode=0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=run, HOME=run)
    server = subprocess.Popen(
        ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
         "-L", f"module-null-sink sink_name=resp rate={RATE} channels=2",
         "-L", f"module-native-protocol-unix socket={run}/pulse.sock auth-anonymous=1"],
        env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.environ["PULSE_SERVER"] = f"unix:{run}/pulse.sock"
    for _ in range(100):
        if subprocess.run(["pactl", "info"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
            break
        time.sleep(0.05)
    subprocess.run(["pactl", "set-default-sink", "resp"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return server


class Recorder:
    def __init__(self):
        self.proc = subprocess.Popen(
            ["parec", "-d", "resp.monitor", "--raw", "--format=s16le", f"--rate={RATE}", "--channels=2",
             "--latency-msec=5"], stdout=subprocess.PIPE, bufsize=0)
        self.chunks = []  # (arrival, frames so far)
        self.data = bytearray()
        self.thread = threading.Thread(target=self.read, daemon=True)
        self.thread.start()

    def read(self):
        while True:
            piece = self.proc.stdout.read(4096)
            if not piece:
                return
            now = time.monotonic()
            self.data += piece
            self.chunks.append((now, len(self.data) // 4))

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait()
        self.thread.join()

    # The levels (dB of the left channel's RMS) of 5 ms blocks, and the clock time at
    # which the first sample is heard.
    def levels(self):
        start = min(arrival - frames / RATE for arrival, frames in self.chunks)
        samples = struct.unpack(f"<{len(self.data) // 2}h", bytes(self.data[: len(self.data) // 4 * 4]))
        out = []
        for b in range(len(samples) // 2 // BLOCK):
            left = samples[b * BLOCK * 2:(b + 1) * BLOCK * 2:2]
            rms = math.sqrt(sum(v * v for v in left) / BLOCK) / 32768
            out.append(20 * math.log10(max(rms, 1e-6)))
        return start, out


def one_run(lib, path):
    info = ctypes.create_string_buffer(4096)
    assert lib.vbmp3_open(path.encode(), info) == 1, "open failed"
    rec = Recorder()
    time.sleep(0.5)
    assert lib.vbmp3_play() != 0, "play failed"
    t0 = time.monotonic()
    flat = (ctypes.c_int32 * 10)()
    cut = (ctypes.c_int32 * 10)(*([0] * 4 + [-60] + [0] * 5))
    actions = [
        (3.0, "equalizer -12 dB", lambda: lib.vbmp3_setEqualizer(cut)),
        (5.0, "equalizer back", lambda: lib.vbmp3_setEqualizer(flat)),
        (7.0, "volume to 1/4", lambda: lib.vbmp3_setOutputVolume(0x40004000)),
        (9.0, "volume back", lambda: lib.vbmp3_setOutputVolume(0xFFFFFFFF)),
        (11.0, "pause", lambda: lib.vbmp3_pause()),
        (13.0, "resume", lambda: lib.vbmp3_restart()),
        (15.0, "seek into silence", lambda: lib.vbmp3_seek(27)),
    ]
    done = []
    for at, name, act in actions:
        time.sleep(max(0.0, t0 + at - time.monotonic()))
        called = time.monotonic()
        act()
        done.append((name, called))
    time.sleep(2.5)
    lib.vbmp3_stop()
    rec.stop()
    start, levels = rec.levels()
    result = {}
    for name, called in done:
        first = int((called - start) * 1000 / 5)
        before = statistics.median(levels[max(0, first - 40):first - 4])
        after = statistics.median(levels[first + 200:first + 300])  # a second later
        mid = (before + after) / 2
        falls = after < before
        hit = next((b for b in range(max(0, first - 100), len(levels))
                    if (levels[b] < mid if falls else levels[b] > mid)), None)
        result[name] = None if hit is None else (start + hit * 0.005 - called) * 1000
    return result


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    binary = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "build", "bin"))
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    for tool in ("pulseaudio", "parec", "pactl", "sox"):
        if not shutil.which(tool):
            sys.exit(f"pulse-response: {tool} is missing")
    tmp = tempfile.mkdtemp()
    server = start_server(tmp)
    try:
        path = os.path.join(tmp, "tone.wav")
        subprocess.run(["sox", "-n", "-r", str(RATE), "-c", "2", "-b", "16", path, "synth", "25", "sine", "1000",
                        "gain", "-6", "pad", "0", "10"], check=True)
        lib = ctypes.CDLL(os.path.join(binary, "libvbmp3.so.1"))
        lib.vbmp3_setOutputVolume.argtypes = [ctypes.c_uint32]
        lib.vbmp3_init()
        option = (ctypes.c_int32 * 4)(128, 10, 10, 0)  # the player's buffer options
        lib.vbmp3_setVbmp3Option(option)
        lib.vbmp3_setDecodeOption((ctypes.c_int32 * 3)(0, 0, 48000))
        lib.vbmp3_setNativeOutputFormat(1)
        results = [one_run(lib, path) for _ in range(runs)]
        lib.vbmp3_free()
        print(f"response through the sound server, ms from the call to the change heard (median of {runs}):")
        for name in results[0]:
            values = [r[name] for r in results if r[name] is not None]
            text = f"{statistics.median(values):7.0f}  [{min(values):.0f} .. {max(values):.0f}]" if values else "not seen"
            print(f"  {name:20s} {text}")
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
