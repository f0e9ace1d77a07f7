#!/usr/bin/env python3
"""A studio settling: the real kvportal (offscreen) starts beside N devices of one family, all
out of date, whose large firmware package was downloaded before, and is timed until every
device shows "Ready To Update".

    studio_bench.py [N...]        (default: 40 200 500; KVPORTAL names the program)

Peers in the same lab and run: `avahi-browse -rpt` resolving the same N announcements, and one
`md5sum` of the shared package. For each N it prints the settle time against discovery plus
one hash, the program's CPU time against that hash, the hashes it made, and the log lines per
device; then it starts the program a second time on the same folder, which must hash nothing.
With 500 devices it also reports the time until the status file lists all of them against
`avahi-browse -rp` of the 500, and the program's peak memory. Prints figures, never fails.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "studio"))

import dataclasses  # noqa: E402

from kvstudio import description as studio_description  # noqa: E402
from kvstudio import lab as studio_lab  # noqa: E402
from kvstudio.announcement import announcement  # noqa: E402
from kvstudio.catalogue import md5_of  # noqa: E402
from kvstudio.studio import Studio  # noqa: E402
from portal import Portal  # noqa: E402

CODE = "KORVEX-FIRMWARE"
PACKAGE_MIB = 256
SIZES = [40, 200, 500]
LISTED_N = 500
ADDRESSES_PER_BLOCK = 250
DEADLINE_S = 600
TICKS = os.sysconf("SC_CLK_TCK")
READY = ":Ready To Update"
HASHING = ":Verifying file md5"


@dataclasses.dataclass
class Device:
    name: str
    host: str
    subtype: str = "_ravenna"


def result(name, label, value, unit, peer=None, peer_value=float("nan"), ratio_is="",
           target=""):
    line = 'RESULT name=%s label="%s" value=%.6g unit="%s"' % (name, label, value, unit)
    if peer:
        ratio = value / peer_value if peer_value else float("nan")
        line += ' peer="%s" peer_value=%.6g ratio=%.4g ratio_is="%s"' % (
            peer, peer_value, ratio, ratio_is)
    print(line + ' target="%s"' % target, flush=True)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def peak_mib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def wait(condition, what, process):
    end = time.monotonic() + DEADLINE_S
    while not condition():
        if process.poll() is not None or time.monotonic() > end:
            raise RuntimeError("%s: not reached" % what)
        time.sleep(0.02)


def peer_discovery(count):
    """Seconds for avahi-browse to resolve `count` devices of the subtype, and then end."""
    start = time.monotonic()
    out = subprocess.run(["avahi-browse", "-rpt", "_ravenna._sub._http._tcp"],
                         capture_output=True, text=True).stdout
    took = time.monotonic() - start
    resolved = sum(1 for line in out.splitlines() if line.startswith("="))
    if resolved < count:
        print("avahi-browse resolved %d of %d" % (resolved, count))
    return took


def peer_hash(path):
    """Wall and CPU seconds of one md5sum of the package."""
    before = os.times()
    start = time.monotonic()
    subprocess.run(["md5sum", path], check=True, capture_output=True)
    took = time.monotonic() - start
    after = os.times()
    return took, (after.children_user - before.children_user) + (
        after.children_system - before.children_system)


class Run:
    def __init__(self, portal, process, started):
        self.portal, self.process, self.started = portal, process, started


def start_and_settle(portal, names, skip_lines):
    started = time.monotonic()
    process = portal.start()
    listed = []

    def settled():
        if not listed and names <= set(portal.status() or {}):
            listed.append(time.monotonic() - started)
        lines = portal.log()[skip_lines:]
        ready = {line.split("(", 1)[1].rsplit(")", 1)[0] for line in lines
                 if line.startswith("Product Status Changed " + CODE) and line.endswith(READY)}
        return ready >= names

    wait(settled, "every device ready to update", process)
    took = time.monotonic() - started
    cpu = cpu_seconds(process.pid)
    lines = portal.log()[skip_lines:]
    hashes = sum(1 for line in lines if line.endswith(HASHING))
    return took, cpu, hashes, lines, process, listed[0] if listed else took


def measure(studio, work, count, package, digest_s, hash_cpu_s):
    lab = studio.lab
    number = lab["subnet"].split(".")[2]
    devices = []
    for index in range(count):
        block, host = divmod(index, ADDRESSES_PER_BLOCK)
        devices.append((Device("Korvex Bench %03d" % index, "bench-%03d" % index),
                        "10.%d.%s.%d" % (78 + block, number, host + 1)))
    studio_lab.add_addresses(lab, [ip for _, ip in devices], peer=True)
    txt = ["vendor=Kelmora Technologies", "product=KELMORA+KORVEX", "version=2.3.0b1",
           "firmware_generation=2"]
    handle = studio_lab.publish_static(
        lab, [item for device, ip in devices for item in announcement(device, ip, txt)])
    try:
        discovery_s = min(peer_discovery(count) for _ in range(3))
        portal = Portal(os.path.join(work, "portal-%d" % count),
                        studio.description.publish_url)
        os.makedirs(portal.firmware_dir, exist_ok=True)
        shutil.copyfile(package, os.path.join(portal.firmware_dir, os.path.basename(package)))
        names = {device.name for device, _ in devices}
        try:
            took, cpu, hashes, lines, process, listed_s = start_and_settle(portal, names, 0)
            peak = peak_mib(process.pid)
            portal.stop()
            skip = len(portal.log())
            again_s, _, again_hashes, _, _, _ = start_and_settle(portal, names, skip)
        finally:
            portal.stop()
        peer = discovery_s + digest_s
        print("%d devices: settled in %.2f s (peer %.2f s: avahi-browse %.2f + md5sum %.2f), "
              "CPU %.2f s (md5sum %.2f s), %d hashes, %d log lines (%.1f a device); second "
              "start %.2f s, %d hashes; peak memory %.1f MiB"
              % (count, took, peer, discovery_s, digest_s, cpu, hash_cpu_s, hashes, len(lines),
                 len(lines) / count, again_s, again_hashes, peak), flush=True)
        what = "%d devices sharing a %d MiB package downloaded before" % (count, PACKAGE_MIB)
        result("settle_%d" % count, "Settle time, first start: " + what, took, "s",
               "avahi-browse -rp of the %d plus md5sum of the package" % count, peer,
               "program / peer", "ratio<=1.3")
        result("settle_cpu_%d" % count, "CPU of that first start, " + what, cpu, "s",
               "md5sum of the package", hash_cpu_s, "program / peer", "ratio<=1.5")
        result("hashes_%d" % count, "Package hashes in that first start, " + what, hashes,
               "hashes", target="value<=1")
        result("second_settle_%d" % count, "Settle time, second start: " + what, again_s, "s",
               "avahi-browse -rp of the %d" % count, discovery_s, "program / peer",
               "ratio<=1.3")
        result("second_hashes_%d" % count, "Package hashes in that second start, " + what,
               again_hashes, "hashes", target="value<1")
        result("log_lines_%d" % count, "Log lines per device, first start, " + what,
               len(lines) / count, "lines", target="value<=10")
        if count == LISTED_N:
            result("listed_%d" % count, "%d devices listed in the status file, first start"
                   % count, listed_s, "s", "avahi-browse -rp of the %d" % count, discovery_s,
                   "program / peer", "ratio<=1.5")
            result("peak_memory_%d" % count, "Peak memory with %d devices listed, offscreen"
                   % count, peak, "MiB", target="value<200")
    finally:
        studio_lab.withdraw(lab, [handle])


def main(sizes):
    work = tempfile.mkdtemp(prefix="kv-studio-bench-")
    try:
        description = dataclasses.replace(studio_description.load(), devices=[])
        studio = Studio(os.path.join(work, "studio"), description)
        with studio:
            # The family's package, made large, on the server and, as downloaded, beside it.
            release = description.release(CODE)
            package = studio.catalogue.package_path(release["IF"])
            with open(package, "wb") as out:
                block = os.urandom(1 << 20)
                for _ in range(PACKAGE_MIB):
                    out.write(block)
            studio.catalogue.md5[release["IF"]] = md5_of(package)
            studio.catalogue.publish()
            digest = [peer_hash(package) for _ in range(3)]
            digest_s = min(wall for wall, _ in digest)
            hash_cpu_s = min(cpu for _, cpu in digest)
            for count in sizes:
                measure(studio, work, count, package, digest_s, hash_cpu_s)
    finally:
        shutil.rmtree(work, True)


if __name__ == "__main__":
    sizes = [int(a) for a in sys.argv[1:]] or SIZES
    if studio_lab.current() is not None:
        main(sizes)
        sys.exit(0)
    try:
        lab = studio_lab.Lab.up()
    except studio_lab.LabUnavailable as reason:
        print("no lab on this machine: %s" % reason)
        sys.exit(0)
    try:
        code = lab.run([sys.executable, os.path.abspath(sys.argv[0])] + sys.argv[1:])
    finally:
        lab.down()
    sys.exit(code)
