"""Turns one run's raw figures into bench/results.json and an HTML page of plots.

usage: make_report.py <results folder> <results.json> <report folder>

The results folder holds what the benchmarks left there (KV_BENCH_RESULTS): one JSON file per
measurement with its raw samples, and figures.jsonl, one line per figure measured beside its
baseline.
"""
import datetime
import html
import json
import os
import platform
import statistics
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

OURS, BASELINE = "#1f6fb2", "#c8702a"

# Onset errors and latencies, in ms: (measurement, series, what it is), our figure first; a
# second series of the same plot is its baseline.
DISTRIBUTIONS = [
    ("onsets-playback", "Count-off, MIDI notes and metronome in one lesson (recorded − scheduled, ms)",
     [("playback", "count-off"), ("playback", "midi notes"), ("playback", "metronome")]),
    ("onsets-intervals", "Intervals between song notes against the file's (ms): ours beside fluidsynth's own player",
     [("playback", "note intervals"), ("playback-fluidsynth", "note intervals")]),
    ("onsets-clicks", "Metronome clicks alone on the engine (heard − scheduled, ms)", [("clicks", "metronome alone")]),
    ("onsets-stems", "Backing track starts (heard − scheduled, ms)", [("stem-starts", "stems")]),
    ("onsets-leds", "Key lights of an LED plan (sent − planned, ms)", [("leds", "led plan")]),
    ("latency-keys", "Key press to note push and to echo sound (ms)", [("keys", "note push"), ("keys", "echo sound")]),
]


def machine():
    model = ""
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            model = next((line.split(":", 1)[1].strip() for line in cpuinfo if line.startswith("model name")), "")
    except OSError:
        pass
    debian = ""
    if os.path.exists("/etc/debian_version"):
        with open("/etc/debian_version") as version:
            debian = "Debian " + version.read().strip()
    return {"cpu": model, "cores": os.cpu_count(), "system": debian or platform.platform(),
            "kernel": platform.release()}


def load(folder):
    samples, figures = {}, []
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if name == "figures.jsonl":
            with open(path) as lines:
                figures = [json.loads(line) for line in lines if line.strip()]
        elif name.endswith(".json"):
            with open(path) as text:
                samples[name[:-5]] = json.load(text)
    return samples, figures


def summary(values):
    if not values:
        return {"count": 0}
    ordered = sorted(abs(v) for v in values)
    return {"count": len(values), "mean": statistics.fmean(values), "p50 |x|": ordered[len(ordered) // 2],
            "p99 |x|": ordered[int(0.99 * (len(ordered) - 1))], "max |x|": ordered[-1]}


def histogram(path, title, series):
    fig, ax = plt.subplots(figsize=(7.5, 3.4))
    present = [(label, values) for label, values in series if values]
    low = min(min(v) for _, v in present)
    high = max(max(v) for _, v in present)
    edges = [low + (high - low) * i / 40 for i in range(41)] if high > low else 10
    for index, (label, values) in enumerate(present):
        color = (OURS, BASELINE, "#5a9e4b")[index % 3]
        ax.hist(values, bins=edges, alpha=0.6, color=color, label=f"{label} (n={len(values)})")
    ax.set_title(title, fontsize=9)
    ax.set_xlabel("ms")
    ax.set_ylabel("count")
    ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def bars(path, group, rows):
    labels = sorted({row["label"] for row in rows}, key=[row["label"] for row in rows].index)
    fig, ax = plt.subplots(figsize=(7.5, 1.6 + 0.7 * len(labels)))
    height = 0.4
    for offset, side, color in ((0, "ours", OURS), (height, "baseline", BASELINE)):
        values = {row["label"]: row["value"] for row in rows if row["side"] == side}
        positions = [i + offset for i, label in enumerate(labels) if label in values]
        shown = [values[label] for label in labels if label in values]
        names = {row["label"]: row.get("name", side) for row in rows if row["side"] == side}
        legend = ", ".join(sorted(set(names.values()))) or side
        ax.barh(positions, shown, height=height, color=color, label=legend)
        for position, value in zip(positions, shown):
            ax.text(value, position, f" {value:.4g}", va="center", fontsize=7)
    ax.set_yticks([i + height / 2 for i in range(len(labels))])
    ax.set_yticklabels(labels, fontsize=8)
    ax.invert_yaxis()
    ax.set_xlabel(rows[0]["unit"])
    low, high = min(row["value"] for row in rows), max(row["value"] for row in rows)
    if low > 0 and high / low > 50:  # ours and the baseline orders of magnitude apart
        ax.set_xscale("log")
        ax.set_xlim(low / 2, high * 4)
    else:
        ax.set_xlim(0, high * 1.2)
    ax.set_title(group, fontsize=9)
    ax.legend(fontsize=7, loc="lower right")
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def memory(path, soak):
    points = soak.get("resident MB", [])
    fig, ax = plt.subplots(figsize=(7.5, 3))
    ax.plot([p[0] / 60 for p in points], [p[1] for p in points], color=OURS)
    ax.set_title(f"Resident memory of the service during a soak of {soak.get('seconds', 0)} s", fontsize=9)
    ax.set_xlabel("minutes")
    ax.set_ylabel("MB")
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def main(folder, results_path, report):
    samples, figures = load(folder)
    os.makedirs(report, exist_ok=True)
    when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    results = {"date": when, "machine": machine(), "distributions": {}, "figures": figures,
               "soak": samples.get("soak", {})}
    sections = []
    for name, title, series in DISTRIBUTIONS:
        found = [(f"{measurement}: {label}", samples.get(measurement, {}).get(label, [])) for measurement, label in series]
        for label, values in found:
            results["distributions"][label] = {"summary": summary(values), "samples": values}
        if any(values for _, values in found):
            histogram(os.path.join(report, name + ".png"), title, found)
            rows = "".join(f"<tr><td>{html.escape(label)}</td>" + "".join(
                f"<td>{summary(values).get(key, 0):.3f}</td>" for key in ("mean", "p50 |x|", "p99 |x|", "max |x|")) +
                f"<td>{len(values)}</td></tr>" for label, values in found if values)
            sections.append(f"<h2>{html.escape(title)}</h2><img src='{name}.png'>"
                            "<table><tr><th></th><th>mean</th><th>p50 |x|</th><th>p99 |x|</th><th>max |x|</th><th>n</th></tr>"
                            f"{rows}</table>")
    groups = {}
    for row in figures:
        groups.setdefault(row["group"], []).append(row)
    for index, (group, rows) in enumerate(groups.items()):
        image = f"figures-{index}.png"
        bars(os.path.join(report, image), group, rows)
        table = "".join(f"<tr><td>{html.escape(r['label'])}</td><td>{html.escape(r.get('name', r['side']))}</td>"
                        f"<td>{r['value']:.4g} {html.escape(r['unit'])}</td></tr>" for r in rows)
        sections.append(f"<h2>{html.escape(group)}</h2><img src='{image}'><table>{table}</table>")
    if samples.get("soak"):
        memory(os.path.join(report, "memory-soak.png"), samples["soak"])
        soak = samples["soak"]
        sections.append("<h2>Memory over a soak</h2><img src='memory-soak.png'>"
                        f"<p>{soak.get('requests', 0):,} requests; WebSocket ping p99 {soak.get('ping p99 ms', 0):.2f} ms, "
                        f"max {soak.get('ping max ms', 0):.2f} ms.</p>")
    with open(results_path, "w") as out:
        json.dump(results, out, indent=1)
    about = results["machine"]
    page = ("<!doctype html><meta charset='utf-8'><title>KVPlugin benchmarks</title>"
            "<style>body{font:14px sans-serif;max-width:60em;margin:2em auto}img{max-width:100%}"
            "table{border-collapse:collapse;margin-bottom:2em}td,th{border:1px solid #ccc;padding:2px 8px;text-align:right}"
            "td:first-child{text-align:left}</style>"
            f"<h1>KVPlugin benchmarks</h1><p>{html.escape(when)} · {html.escape(about['cpu'])}, {about['cores']} cores · "
            f"{html.escape(about['system'])}, Linux {html.escape(about['kernel'])} · JACK dummy driver, 48 kHz. "
            "Our figures in blue, their baselines from the same run in orange; raw samples in bench/results.json.</p>"
            + "".join(sections))
    with open(os.path.join(report, "index.html"), "w") as out:
        out.write(page)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
