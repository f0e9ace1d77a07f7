#!/usr/bin/env python3
"""Writes bench/REPORT.md and the README's benchmark table from one run of scripts/bench.sh.

    report.py RUN_DIR REPORT README

RUN_DIR holds machine.txt and, for each benchmark, NAME.log (its whole output) and NAME.meta
(command, status, seconds, load). The figures come only from the RESULT lines in the logs.
"""
import math
import operator
import pathlib
import re
import shlex
import sys

BEGIN = "<!-- bench table: written by make bench -->"
END = "<!-- end of bench table -->"
COMPARE = {"<=": (operator.le, "≤"), ">=": (operator.ge, "≥"), "<": (operator.lt, "<"),
           ">": (operator.gt, ">")}
# The program under test logs to the same standard output: its timestamped lines and the device
# replies it echoes stay in the full log only.
NOISE = re.compile(r"^(\d\d:\d\d:\d\d  |RESULT |HTTP/1\.1 |[A-Za-z-]+: |\{|\s*$)")


def read_pairs(path):
    pairs = {}
    for line in path.read_text().splitlines():
        key, _, value = line.partition("=")
        pairs[key] = value
    return pairs


def parse_results(log):
    results = []
    for line in log.splitlines():
        if line.startswith("RESULT "):
            fields = dict(field.partition("=")[::2] for field in shlex.split(line[7:]))
            for key in ("value", "peer_value", "ratio"):
                fields[key] = float(fields[key]) if key in fields else math.nan
            results.append(fields)
    return results


def number(value):
    if math.isnan(value):
        return "no figure"
    if abs(value) >= 100 or value.is_integer():
        return f"{value:,.0f}"
    if abs(value) >= 1:
        return f"{value:.2f}"
    return f"{value:.3g}"


def verdict(result):
    """The target as text and whether the figure meets it."""
    target = result.get("target", "")
    match = re.fullmatch(r"(ratio|value)(<=|>=|<|>)([0-9.]+)", target)
    if not match:
        return "—", "information"
    subject, comparison, bound = match.groups()
    compare, sign = COMPARE[comparison]
    figure = result[subject]
    text = f"{subject} {sign} {bound}" + (f" {result['unit']}" if subject == "value" else "")
    if math.isnan(figure):
        return text, "**no figure**"
    return text, "yes" if compare(figure, float(bound)) else "**no**"


def table(results):
    lines = ["| Figure | Program | Peer (same run) | Ratio | Target | Met |",
             "|---|---|---|---|---|---|"]
    for result in results:
        unit = result["unit"]
        peer = "—"
        ratio = "—"
        if "peer" in result:
            peer = f"{number(result['peer_value'])} {unit} ({result['peer']})"
            ratio = f"{number(result['ratio'])} ({result['ratio_is']})"
        target, met = verdict(result)
        lines.append(f"| {result['label']} | {number(result['value'])} {unit} | {peer} | {ratio} "
                     f"| {target} | {met} |")
    return lines


def main():
    run, report, readme = (pathlib.Path(argument) for argument in sys.argv[1:4])
    machine = read_pairs(run / "machine.txt")
    benches = []
    for meta in sorted(run.glob("*.meta"), key=lambda path: int(read_pairs(path)["order"])):
        log = meta.with_suffix(".log").read_text(errors="replace")
        benches.append((read_pairs(meta), log, parse_results(log)))
    results = [result for _, _, found in benches for result in found]
    verdicts = [verdict(result)[1] for result in results]

    stamp = f"{machine['date']} on {machine['cores']} cores ({machine['cpu']})"
    lines = [
        "# Benchmark report",
        "",
        f"Written by `make bench` (scripts/bench.sh) on {machine['date']}; do not edit, run it "
        "again.",
        "",
        f"- Machine: {machine['cores']} cores ({machine['cpu']}), {machine['memory']} memory, "
        f"{machine['os']}.",
        f"- Load average (1, 5, 15 min): {machine['load_start']} at the start, "
        f"{machine['load_end']} at the end. Other work shared these cores during the run, so the "
        "figures are noisy; each is the best or the median of several runs, as its row says.",
        f"- Build: {machine['build']}, commit {machine['commit']}.",
        f"- Targets met: {verdicts.count('yes')} of "
        f"{len(verdicts) - verdicts.count('information')}.",
        "",
        "Each program figure stands beside its peer measured in the same run, on the same files, "
        "servers and lab; the ratio column says which way it is taken.",
        "",
        *table(results),
        "",
        "## Runs",
        "",
    ]
    for meta, log, found in benches:
        lines += [
            f"### {meta['name']}",
            "",
            f"`{meta['command']}`: exit status {meta['status']}, {meta['seconds']} s, load "
            f"{meta['load']} at its start. Whole output: `{meta['log']}`.",
            "",
        ]
        if not found:
            lines += ["It printed no RESULT line.", ""]
        own = [line for line in log.splitlines() if not NOISE.match(line)]
        lines += ["```", *own, "```", ""]
    report.write_text("\n".join(lines))

    text = readme.read_text()
    start = text.index(BEGIN) + len(BEGIN)
    section = ["", "", f"Measured by `make bench` on {stamp}, load average "
               f"{machine['load_start'].split()[0]} at the start; the whole report with each "
               "run's output is [bench/REPORT.md](bench/REPORT.md).", "", *table(results), "", ""]
    readme.write_text(text[:start] + "\n".join(section) + text[text.index(END):])
    print("\n".join(table(results)))


if __name__ == "__main__":
    main()
