"""What another DNS-SD client inside the studio sees, through avahi-browse."""

import re
import subprocess

DEADLINE_S = 60


def unescape(label):
    """avahi-browse writes every byte outside [A-Za-z0-9_-] as \\DDD (decimal) or \\c."""
    def byte(match):
        text = match.group(1)
        return bytes([int(text)]) if text.isdigit() else text
    return re.sub(rb"\\(\d{3}|.)", byte, label.encode()).decode("utf-8")


def browse(service_type):
    """{instance name: (address, port, TXT entries)} of the instances avahi resolves."""
    listing = subprocess.run(["avahi-browse", "-rpt", service_type], check=True,
                             capture_output=True, text=True, timeout=DEADLINE_S).stdout
    found = {}
    for line in listing.splitlines():
        fields = line.split(";")
        if fields[0] == "=":
            found[unescape(fields[3])] = (fields[7], int(fields[8]),
                                          set(re.findall(r'"([^"]*)"', fields[9])))
    return found
