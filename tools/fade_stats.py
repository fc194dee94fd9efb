"""The pace of a fade, from the console simulator's log: the figures the bench
and the reliability runs report, each written once here and taken the way the
simulator takes its own fade summaries (nearest-rank percentiles)."""


def nearest_rank(values, percent):
    ordered = sorted(values)
    return ordered[max(1, -(-len(ordered) * percent // 100)) - 1]  # the rank: len * percent / 100, rounded up


def intervals_ms(messages):
    """The milliseconds between consecutive logged datagrams."""
    return [(b["t_us"] - a["t_us"]) / 1000.0 for a, b in zip(messages, messages[1:])]


def pace(intervals):
    """Mean, median, p99 and longest of INTERVALS (ms), and how many; {} for none."""
    if not intervals:
        return {}
    return dict(mean=sum(intervals) / len(intervals), p50=nearest_rank(intervals, 50),
                p99=nearest_rank(intervals, 99), max=max(intervals), count=len(intervals))
