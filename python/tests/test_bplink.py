"""The Python package against the simulated devices, compared with the
program wherever both answer the same question."""

import dataclasses
import json
import os
import pathlib
import re
import subprocess
import threading

import pytest

import bplink

FAMILIES = ["hid", "kx71", "kv32", "vestra16", "vestra16c", "vestra18"]
README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


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
    data = bplink.download(sim=family)
    assert data.complete
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


def test_stop_from_another_thread_keeps_what_arrived():
    stop = bplink.Stop()
    flowing = threading.Event()
    outcome = {}

    def watch(progress, state, stage):
        if stage == 2 and progress > 0:  # blood-pressure records are arriving
            flowing.set()

    def run():
        outcome["data"] = bplink.download(sim="hid", sim_records=400, sim_pace_ms=2, stop=stop, on_progress=watch)

    worker = threading.Thread(target=run)
    worker.start()
    assert flowing.wait(timeout=30)
    stop.request()  # from this thread, while the worker is inside the library
    worker.join(timeout=30)
    data = outcome["data"]
    assert data.result == 1 and data.stopped and not data.complete
    assert data.sets[0].announced == 400
    assert 0 < len(data.sets[0].records) < 400


def test_uploaded_plan_comes_back(tmp_path):
    with bplink.connect(sim="hid") as device:
        plan = device.download().plan
        plan.update(period1_interval=20, period2_hour=23, patient1="PY HOST")
        device.upload(plan)
        back = device.download().plan
        assert (back["period1_interval"], back["period2_hour"], back["patient1"]) == (20, 23, "PY HOST")
        # A plan file, as `bplink upload` reads it; the rest default, and
        # what the recorder does not keep is named.
        plan_file = tmp_path / "plan.json"
        plan_file.write_text('{"patient": ["FILE"], "period1": {"start": "06:00", "interval": 60}, "warn_switch": 2}')
        with pytest.warns(bplink.PlanWarning, match="^the device does not keep warn_switch$"):
            device.upload(plan_file)
        back = device.download().plan
        assert (back["patient1"], back["period1_hour"], back["period1_interval"], back["period2_hour"]) == \
            ("FILE", 6, 60, bplink.default_plan()["period2_hour"])


@pytest.mark.parametrize("plan, named", [
    ({"period9_hour": 1}, "period9_hour: unknown field"),
    ({"patient2": "X" * 12}, "patient2: expected a text of at most 11"),
    ({"options": [1, 2, 3]}, "options: expected a list of 4"),
    ({"day_warn": {"limits": [1, 2, 3, 4, 5, "6"]}}, "day_warn.limits[5]: expected a whole number"),
    ({"period1_interval": 2**31}, "period1_interval: expected a whole number"),
    ('{"period1": {"interval": 7}}',
     "plan: period1.interval: 7 minutes is not an interval this device allows; it allows 15, 30, 60, 120"),
    ('{"period1": ', "plan: not valid JSON"),
])
def test_a_wrong_plan_is_refused_naming_the_field(plan, named):
    with pytest.raises(ValueError, match=re.escape(named)):
        bplink.upload(plan, sim="hid")


def test_a_silent_device_is_named_and_a_partial_download_kept():
    with pytest.raises(bplink.BplinkError, match="the device did not answer") as error:
        bplink.download(sim="hid", sim_silent_after=0)
    assert error.value.code == 5
    data = bplink.download(sim="hid", sim_silent_after=5)
    assert (data.result, len(data.sets[0].records), data.complete) == (5, 5, False)


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
