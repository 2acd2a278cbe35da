"""A host in Python: downloads what a simulated ambulatory recorder stored and
writes its ambulatory report.

    python3 report_sim.py REPORT.html

The package finds libbplink, libbplink_sim_c and libbplink_report_c where
the system's loader does (an installation), or in BPLINK_LIBRARY_PATH.
"""
import sys

import bplink


def main() -> int:
    if len(sys.argv) != 2:
        print("usage: report_sim.py REPORT.html", file=sys.stderr)
        return 2
    data = bplink.download(sim="hid")
    records = data.sets[0].records
    print(f"protocol {data.device.protocol}: {len(records)} readings")
    for r in records[:3]:
        print(f"  {r.time}  {r.sys}/{r.press2} mmHg, pulse {r.pulse}")
    bplink.report(data, sys.argv[1])
    print(f"report written to {sys.argv[1]}")
    return 0 if records else 1


if __name__ == "__main__":
    sys.exit(main())
