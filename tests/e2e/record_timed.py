#!/usr/bin/env python3
"""Records a sink's monitor as 16-bit stereo at 44100 Hz, and when it began.

usage: record_timed.py SINK OUT.raw OUT.start      (stops at SIGTERM or SIGINT)

OUT.start receives, on its first line, the moment the record's first frame
was rendered, in ms of the raw monotonic clock, which is what Wine's
performance counter counts: frame n of the record was rendered at
START + n / 44.1 ms. Each read asks the server how long the frame after it
has been waiting (the record latency), and the median over the run keeps one
late read from moving the line-up. A sink renders ahead of playing, by its
latency, and its monitor hears a frame when it is rendered: the lines after
the first give the sink's latency as the server reports it, "MS LATENCY_MS",
sampled every 250 ms, so that a frame's playing time can be told.
"""
import ctypes
import re
import signal
import statistics
import subprocess
import sys
import threading
import time

RATE, FRAME = 44100, 4
CHUNK = 441  # frames per read: 10 ms
# The fragment the server sends, as the other recorders ask (parec
# --latency-msec=20). A sink renders in pieces no longer than the latency its
# monitor's readers ask for: a smaller one would make the player's stream run
# dry under load, and change what is measured.
FRAGMENT = 882
PA_SAMPLE_S16LE, PA_STREAM_RECORD = 3, 2


class SampleSpec(ctypes.Structure):
    _fields_ = [("format", ctypes.c_int), ("rate", ctypes.c_uint32), ("channels", ctypes.c_uint8)]


class BufferAttr(ctypes.Structure):
    _fields_ = [(name, ctypes.c_uint32)
                for name in ("maxlength", "tlength", "prebuf", "minreq", "fragsize")]


def now_ms():
    return time.clock_gettime(time.CLOCK_MONOTONIC_RAW) * 1000.0


def sample_latency(sink, samples, stopping):
    pattern = re.compile(r"Name: " + re.escape(sink) + r"\n.*?Latency: (\d+) usec", re.S)
    while not stopping:
        text = subprocess.run(["pactl", "list", "sinks"], capture_output=True, text=True).stdout
        found = pattern.search(text)
        if found:
            samples.append((now_ms(), int(found.group(1)) / 1000.0))
        time.sleep(0.25)


def main():
    sink, raw_path, start_path = sys.argv[1:4]
    pa = ctypes.CDLL("libpulse-simple.so.0")
    pa.pa_simple_new.restype = ctypes.c_void_p
    pa.pa_simple_get_latency.restype = ctypes.c_uint64
    pa.pa_simple_get_latency.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int)]
    pa.pa_simple_read.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t,
                                  ctypes.POINTER(ctypes.c_int)]
    pa.pa_simple_free.argtypes = [ctypes.c_void_p]
    sample_format = SampleSpec(PA_SAMPLE_S16LE, RATE, 2)
    unset = 0xFFFFFFFF
    attr = BufferAttr(unset, unset, unset, unset, FRAGMENT * FRAME)
    error = ctypes.c_int(0)
    stream = pa.pa_simple_new(None, b"qvq-record", PA_STREAM_RECORD, (sink + ".monitor").encode(),
                              b"record", ctypes.byref(sample_format), None, ctypes.byref(attr),
                              ctypes.byref(error))
    if not stream:
        sys.exit(f"record_timed: cannot record {sink} (error {error.value})")
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(1))
    signal.signal(signal.SIGINT, lambda *_: stopping.append(1))
    latencies = []
    sampler = threading.Thread(target=sample_latency, args=(sink, latencies, stopping))
    sampler.start()
    buffer = ctypes.create_string_buffer(CHUNK * FRAME)
    starts, frames = [], 0
    with open(raw_path, "wb") as out:
        while not stopping:
            if pa.pa_simple_read(stream, buffer, CHUNK * FRAME, ctypes.byref(error)) < 0:
                break
            read_ms = now_ms()
            frames += CHUNK
            out.write(buffer.raw)
            latency_us = pa.pa_simple_get_latency(stream, ctypes.byref(error))
            starts.append(read_ms - latency_us / 1000.0 - 1000.0 * frames / RATE)
    pa.pa_simple_free(stream)
    stopping.append(1)
    sampler.join()
    with open(start_path, "w") as out:
        out.write(f"{statistics.median(starts):.3f}\n" if starts else "nan\n")
        out.writelines(f"{at:.3f} {latency:.3f}\n" for at, latency in latencies)


main()
