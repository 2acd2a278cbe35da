"""The Python package against the simulated devices, compared with the
program wherever both answer the same question."""

import contextlib
import ctypes
import dataclasses
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import threading

import pytest

import bplink
from bplink import _native

FAMILIES = ["hid", "kx71", "kv32", "vestra16", "vestra16c", "vestra18"]
UPLOADING = ["hid", "kx71", "kv32", "vestra16", "vestra16c"]
README = pathlib.Path(__file__).resolve().parents[2] / "README.md"
MISSING_PORT = "COM249" if sys.platform == "win32" else "/dev/bplink-no-such-port"
MISSING_WHY = f"{MISSING_PORT} cannot be opened" + ("" if sys.platform == "win32" else ": no such file or directory")


@pytest.fixture(scope="session")
def program_downloads(program):
    """`bplink --sim F download --format json` for every family, run at once:
    the program paces the simulated devices in real time."""
    runs = {f: subprocess.Popen([program, "--sim", f, "download", "--format", "json"], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True) for f in FAMILIES}
    out = {}
    for family, run in runs.items():
        stdout, stderr = run.communicate(timeout=120)
        assert run.returncode == 0, f"{family}: {stderr}"
        out[family] = json.loads(stdout)
    return out


def as_program_record(record):
    fields = dataclasses.asdict(record)
    fields["time"] = record.time.isoformat() if record.time else None
    return fields


@pytest.mark.parametrize("family", FAMILIES)
def test_download_brings_what_the_program_brings(family, program_downloads):
    expected = program_downloads[family]
    seen = []
    data = bplink.download(sim=family, on_progress=lambda progress, state, stage: seen.append(progress))
    assert data.complete and not data.stopped
    assert seen[-1] == 100, "a whole download ends at 100, whatever the family's own count reached"
    assert dataclasses.asdict(data.device) == expected["device"]
    assert bplink.detect(sim=family).protocol == expected["device"]["protocol"]
    assert [s.mode for s in data.sets] == [s["mode"] for s in expected["sets"]]
    assert [s.announced for s in data.sets] == [s["head"]["count"] for s in expected["sets"]]
    for got, want in zip(data.sets, expected["sets"]):
        # The program adds why it would leave a reading out of the report; the records are the library's.
        program_records = [{k: v for k, v in r.items() if k != "reason"} for r in want["records"]]
        assert [as_program_record(r) for r in got.records] == program_records
    assert len(data.spo2) == (len(expected["spo2"]["records"]) if expected["spo2"] else 0)
    if expected["plan"]:
        assert data.plan["period1_interval"] == expected["plan"]["period1"]["interval"]
        assert data.plan["patient1"] == expected["plan"]["patient"][0]


@pytest.mark.parametrize("family", FAMILIES)
def test_stop_from_another_thread_keeps_what_arrived(family):
    stop = bplink.Stop()
    flowing = threading.Event()
    outcome = {}
    # The KX71 recorder's count cycles from 20 while records come; the others count records from 0.
    start = 22 if family == "kx71" else 2

    def watch(progress, state, stage):
        if stage not in (0, 1) and progress > start:  # records are arriving
            flowing.set()

    def run():
        outcome["data"] = bplink.download(sim=family, sim_records=250, sim_pace_ms=2, stop=stop, on_progress=watch)

    worker = threading.Thread(target=run)
    worker.start()
    assert flowing.wait(timeout=30)
    stop.request()  # from this thread, while the worker is inside the library
    worker.join(timeout=30)
    data = outcome["data"]
    assert data.result == 12 and data.stopped and not data.complete
    assert 0 < len(data.sets[0].records) < 250


def test_uploaded_plan_comes_back(tmp_path):
    with bplink.connect(sim="hid") as device:
        plan = device.download().plan
        assert (plan["extra_start_hour"], plan["extra_interval"]) == (-1, 0), "no extra window"
        plan.update(period1_interval=30, period2_hour=23, patient1="PY HOST")
        device.upload(plan)
        back = device.download().plan
        assert (back["period1_interval"], back["period2_hour"], back["patient1"]) == (30, 23, "PY HOST")
        # A plan file, as `bplink upload` reads it; the rest default, and
        # what the recorder does not keep is named.
        plan_file = tmp_path / "plan.json"
        plan_file.write_text('{"patient": ["FILE"], "period1": {"start": "06:00", "interval": 30}, "warn_switch": 2}')
        with pytest.warns(bplink.FieldsNotKept, match="^the device does not keep warn_switch$"):
            device.upload(plan_file)
        back = device.download().plan
        assert (back["patient1"], back["period1_hour"], back["period1_interval"], back["period2_hour"]) == \
            ("FILE", 6, 30, bplink.default_plan()["period2_hour"])


@pytest.mark.parametrize("plan, named", [
    ({"period9_hour": 1}, "period9_hour: unknown field"),
    ({"patient2": "X" * 12}, "patient2: expected a text of at most 11"),
    ({"options": [1, 2, 3]}, "options: expected a list of 4"),
    ({"day_warn": {"limits": [1, 2, 3, 4, 5, "6"]}}, "day_warn.limits[5]: expected a whole number"),
    ({"period1_interval": 2**31}, "period1_interval: expected a whole number"),
    ({"period1_hour": 24}, "plan: period1.start: hour 24 is out of range 0..23"),
    ('{"period1": {"interval": 7}}',
     "plan: period1.interval: 7 minutes is not an interval this device allows; it allows 15, 30, 60, 120"),
    ('{"period1": ', "plan: not valid JSON"),
])
def test_a_wrong_plan_is_refused_naming_the_field(plan, named):
    with pytest.raises(ValueError, match=re.escape(named)):
        bplink.upload(plan, sim="hid")


@pytest.mark.parametrize("family", UPLOADING)
def test_a_plan_is_held_to_the_device_in_the_same_words_whichever_way_it_comes(family, program, tmp_path):
    """A dictionary and a plan file each go through the library's one check,
    as the program's upload does: refused before anything is sent, in the
    same words."""
    plan_file = tmp_path / "seven.json"
    plan_file.write_text('{"period1": {"interval": 7}}')
    said = []
    for plan in ({"period1_interval": 7}, plan_file, plan_file.read_text()):
        with pytest.raises(bplink.PlanError) as refused:
            bplink.upload(plan, sim=family)
        said.append(str(refused.value))
    assert said[0] == said[1] == said[2]
    assert said[0].startswith("upload: plan: period1.interval: 7 minutes is not an interval this device allows")
    words = said[0].removeprefix("upload: plan: ")
    run = subprocess.run([program, "--sim", family, "upload", str(plan_file)], capture_output=True, text=True,
                         timeout=60)
    assert run.returncode == 2
    assert f"bplink: {plan_file}: {words}" in run.stderr


PLANS = pathlib.Path(__file__).resolve().parents[2] / "tests" / "cli" / "plans"


@pytest.mark.parametrize("family", ["hid", "kv32"])
@pytest.mark.parametrize("plan_name", ["swapped.json", "no_measurements.json", "equal_starts.json"])
def test_a_plan_that_cannot_give_a_valid_recording_needs_the_host_s_yes(family, plan_name, program, tmp_path):
    """Swapped, zero and equal-start plans: PlanWarning in the program's
    words, from a plan file and from a dictionary, and nothing sent; sent
    once accepted."""
    plan_file = PLANS / plan_name
    with bplink.connect(sim=family) as device:
        before = device.download().plan
        with pytest.raises(bplink.PlanWarning) as from_file:
            device.upload(plan_file)
        read = json.loads("\n".join(line for line in plan_file.read_text().splitlines()
                                     if not line.startswith("//")))
        as_dict = {"period1_hour": int(read["period1"]["start"][:2]), "period1_interval": read["period1"]["interval"],
                   "period2_hour": int(read["period2"]["start"][:2]), "period2_interval": read["period2"]["interval"]}
        with pytest.raises(bplink.PlanWarning) as from_dict:
            device.upload(as_dict)
        assert from_file.value.code == 13 and from_file.value.warnings == from_dict.value.warnings
        assert device.download().plan == before, "the warned plan reached the device"
        with pytest.warns(bplink.FieldsNotKept, match=re.escape(from_file.value.warnings[0])):
            device.upload(as_dict, accept_warnings=True, discard=True)  # a KV32 upload erases its readings
        back = device.download().plan
        assert {name: back[name] for name in as_dict} == as_dict
    run = subprocess.run([program, "--sim", family, "upload", str(plan_file), "--discard"], capture_output=True,
                         text=True, timeout=60)
    assert run.returncode == 2
    for words in from_file.value.warnings:
        assert f"{plan_file}: {words.removeprefix('plan: ')}\n" in run.stderr


def _held(device):
    return sum(len(s.records) for s in device.download().sets)


@pytest.mark.parametrize("what, sim, options", [
    ("upload", "kv32", {}),                       # its upload starts a new recording
    ("delete", "hid", {"sim_device_type": 5}),    # the three-store monitor
])
def test_nothing_is_erased_unread_unless_the_host_says_so(what, sim, options, program, tmp_path):
    """Refused with the number of readings that would be lost, in the
    program's words, and nothing erased; done with discard=True."""
    plan = {"period1_interval": 30}
    with bplink.connect(sim=sim, **options) as device:
        held = _held(device)  # what the delete takes: the first mode's store
        assert held > 0
        erase = (lambda **kw: device.upload(plan, **kw)) if what == "upload" else device.delete
        with pytest.raises(bplink.WouldErase) as refused:
            erase()
        assert refused.value.held == held and refused.value.code == 14
        words = f"the device holds {held} readings that the {what} would erase unread"
        assert words in str(refused.value) and "discard=True" in str(refused.value)
        assert _held(device) == held, "readings were erased"
        erase(discard=True)
        if what == "delete":
            assert _held(device) == 0
            device.delete()  # nothing left to lose
    plan_file = tmp_path / "plan.json"
    plan_file.write_text('{"period1": {"interval": 30}}')
    args = ["upload", str(plan_file)] if what == "upload" else ["delete", "--yes"]
    sim_args = ["--sim", sim] + (["--sim-type", "5"] if options else [])
    run = subprocess.run([program, *sim_args, *args], capture_output=True, text=True, timeout=60)
    assert run.returncode == 7
    assert re.search(rf"the device holds \d+ readings that the {what} would erase unread", run.stderr), run.stderr


def test_a_missing_port_is_named_with_the_system_s_reason():
    with pytest.raises(bplink.BplinkError) as known:
        bplink.download(port=MISSING_PORT, protocol=7, timeout_ms=50)
    assert known.value.code == 2 and MISSING_WHY in known.value.reason
    with pytest.raises(bplink.BplinkError) as detected:
        bplink.download(port=MISSING_PORT, timeout_ms=50)
    assert detected.value.code == 11
    assert "USB HID: " in detected.value.reason and f"serial ports: {MISSING_WHY}" in detected.value.reason


@contextlib.contextmanager
def served(program, family):
    """`bplink sim FAMILY` in the background: the pty it serves on."""
    sim = subprocess.Popen([program, "sim", family], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        yield sim.stdout.readline().strip()
    finally:
        sim.terminate()
        sim.wait(timeout=30)


@pytest.mark.skipif(sys.platform == "win32", reason="`bplink sim` serves on POSIX pseudo-terminals only")
def test_detect_all_finds_two_devices_on_two_ptys(program):
    with served(program, "kv32") as kv32, served(program, "vestra18") as vestra18:
        ports = bplink.detect_all(ports=[kv32, MISSING_PORT, vestra18], hid=False, timeout_ms=150)
    assert [(p.link, p.port, p.found) for p in ports] == \
        [("serial", kv32, True), ("serial", MISSING_PORT, False), ("serial", vestra18, True)]
    assert [ports[0].device.protocol, ports[2].device.protocol] == [7, 10]
    assert ports[1].status == bplink.DetectedPort.CANNOT_OPEN and "no such file or directory" in ports[1].reason


def test_a_port_this_user_may_not_open_is_named(program, tmp_path):
    """A pty only root may open (owner root, mode 0600), opened by Python
    running as `nobody`: the reason names the port, its owner and mode."""
    if sys.platform == "win32" or os.geteuid() != 0:
        pytest.skip("needs root, to give a pty to root with mode 0600 and run Python as nobody")
    if shutil.which("setpriv") is None:
        pytest.skip("needs setpriv (util-linux) to run Python as nobody")
    as_nobody = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--", sys.executable, "-c"]
    env = dict(os.environ)
    can = subprocess.run(as_nobody + ["import bplink; bplink.version()"], capture_output=True, text=True, env=env)
    if can.returncode != 0:
        pytest.skip(f"nobody cannot load the package or the libraries here (a directory above them is closed?): "
                    f"{can.stderr.strip()[-200:]}")
    host, device = os.openpty()
    try:
        port = os.ttyname(device)
        os.chown(port, 0, 0)
        os.chmod(port, 0o600)
        script = ("import bplink\n"
                  "try:\n"
                  f"    bplink.download(port={port!r}, protocol=7, timeout_ms=100)\n"
                  "except bplink.BplinkError as e:\n"
                  "    print(e.code, e.reason)\n")
        run = subprocess.run(as_nobody + [script], capture_output=True, text=True, env=env, timeout=60)
    finally:
        os.close(device)
        os.close(host)
    assert run.stdout.startswith("2 "), run.stdout + run.stderr
    for words in (port, "permission denied", "owner root, group root, mode 0600"):
        assert words in run.stdout


def test_the_library_is_loaded_by_its_versioned_name_in_a_namespace_of_its_own():
    library = _native.core()
    if sys.platform.startswith("linux"):
        assert os.path.basename(library._name) == "libbplink.so.0"
        assert getattr(ctypes.CDLL(None), "bplink_version", None) is None, "its symbols are in the global namespace"


def test_a_silent_device_is_named_and_a_partial_download_kept():
    with pytest.raises(bplink.BplinkError, match="the device did not answer") as error:
        bplink.download(sim="hid", sim_silent_after=0)
    assert error.value.code == 5
    data = bplink.download(sim="hid", sim_silent_after=5)
    assert (data.result, len(data.sets[0].records), data.complete, data.stopped) == (5, 5, False, False)


def test_report_is_the_report_library_s(tmp_path):
    data = bplink.download(sim="hid")
    doc = bplink.report(data, tmp_path / "report.json", format="json")
    valid = sum(r.valid for r in data.sets[0].records)
    assert (doc["readings"]["total"], doc["readings"]["valid"]) == (78, valid)
    bplink.report(data, tmp_path / "report.html")
    assert "<svg" in (tmp_path / "report.html").read_text()
    with pytest.raises(bplink.BplinkError, match='format "pdf" is not one of html, json, fhir'):
        bplink.report(data, tmp_path / "report.pdf", format="pdf")


def test_report_gives_no_verdict_where_the_recording_fails_a_criterion(tmp_path):
    stopped = bplink.download(sim="hid", sim_silent_after=37)
    doc = bplink.report(stopped, tmp_path / "stopped.json", format="json")
    assert (doc["verdict"]["level"], doc["dipping"]["sys_class"]) == ("not interpretable", None)
    assert any("incomplete" in failed for failed in doc["verdict"]["failed"])
    bplink.report(stopped, tmp_path / "stopped.html")
    assert '<div class="level">Not interpretable' in (tmp_path / "stopped.html").read_text()
    whole = bplink.report(bplink.download(sim="hid"), tmp_path / "whole.json", format="json")
    assert whole["verdict"]["interpretable"] is True


def test_to_pandas_has_a_row_per_record():
    pandas = pytest.importorskip("pandas")
    frame = bplink.download(sim="kx71").to_pandas()
    assert isinstance(frame, pandas.DataFrame)
    assert list(frame.groupby("mode").size()) == [78, 19]


def test_version_is_the_project_s():
    from importlib.metadata import version
    assert bplink.version() == version("bplink")


def test_readme_example_runs(tmp_path, capsys):
    found = re.search(r"<!-- python-example -->\n```python\n(.*?)```\n<!-- /python-example -->", README.read_text(),
                      re.S)
    assert found, "README.md has no Python example between <!-- python-example --> markers"
    cwd = os.getcwd()
    os.chdir(tmp_path)
    try:
        exec(compile(found.group(1), "README.md", "exec"), {})
    finally:
        os.chdir(cwd)
    assert "records" in capsys.readouterr().out
