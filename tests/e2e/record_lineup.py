"""What the checks of a timed record share (record_timed.py): a WAV file's
data, and when the record's frames were heard."""
import statistics
import sys

RATE = 44100


def wav_data(path):
    data = open(path, "rb").read()
    at = 12
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], int.from_bytes(data[at + 4:at + 8], "little")
        if tag == b"data":
            return data[at + 8:at + 8 + size]
        at += 8 + size + (size & 1)
    sys.exit(f"{path}: no data chunk")


def heard_start(start_path, first, last):
    """When the record's frame 0 was heard (raw-monotonic ms), and the sink's
    latency taken for it: a frame plays that long after the monitor has it,
    the median of the latencies sampled while frames first..last sounded."""
    lines = open(start_path).read().split("\n")
    start_ms = float(lines[0])
    latencies = [tuple(map(float, line.split())) for line in lines[1:] if line.strip()]
    sounding = [latency for at, latency in latencies
                if start_ms + 1000.0 * first / RATE <= at <= start_ms + 1000.0 * last / RATE]
    sink_ms = statistics.median(sounding) if sounding else 0.0
    return start_ms + sink_ms, sink_ms
