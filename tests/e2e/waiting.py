"""Waiting for a condition with a generous deadline instead of sleeping a fixed time."""

import time

DEADLINE_S = 90
INTERVAL_S = 0.1


class Timeout(AssertionError):
    pass


def wait_until(condition, what, deadline_s=DEADLINE_S, explain=None, abort=None):
    """Returns the first truthy value of `condition()`; fails naming `what` (and what
    `explain()` says about the current state) when the deadline passes, or at once when
    `abort()` names a reason to give up."""
    end = time.monotonic() + deadline_s
    while True:
        value = condition()
        if value:
            return value
        reason = abort() if abort else None
        if reason or time.monotonic() > end:
            detail = explain() if explain else ""
            raise Timeout("%s: %s. %s" % (what, reason or "not within %d s" % deadline_s,
                                          detail))
        time.sleep(INTERVAL_S)
