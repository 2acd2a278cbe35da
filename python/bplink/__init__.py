"""Talk to blood-pressure monitors from Python, through libbplink's C interface.

    >>> import bplink
    >>> data = bplink.download(sim="hid")      # or download() for the connected device
    >>> len(data.sets[0].records)

Every call blocks until the device is done; a download can be stopped from
another thread with a `Stop`. Failures raise `BplinkError`, whose message is
the library's words for the result code and the link's reason.
"""

import ctypes
import datetime
import json
import os
import threading
import warnings
from dataclasses import dataclass, field
from typing import Callable, List, Optional

from . import _native as native

__all__ = ["BplinkError", "PlanError", "PlanWarning", "Connection", "DataSet", "Device", "Download", "Record", "Spo2Sample", "Stop",
           "connect", "default_plan", "detect", "download", "report", "upload", "version"]


class BplinkError(Exception):
    """A call the library answered with a failure code: `code`, and `reason`
    (the link's own words, such as "permission denied") when it has one."""

    def __init__(self, what, code, reason="", code_has_no_words=False):
        # code_has_no_words: the code stands for a kind of failure the
        # library's words do not describe (a report option); the reason says it.
        text = f"{what}: {reason}" if code_has_no_words else f"{what}: {result_text(code)} ({code})"
        if reason and not code_has_no_words:
            text += f"; {reason}"
        super().__init__(text)
        self.code = code
        self.reason = reason


class PlanError(BplinkError, ValueError):
    """A plan the library refused before sending any of it: text that is not
    a plan file, or a value the device does not allow. The message names the
    field and the values it may hold."""


class PlanWarning(UserWarning):
    """The device does not keep some fields the plan sets; the message names them."""


def result_text(code):
    text = ctypes.c_char_p()
    native.core().bplink_result_text(code, ctypes.byref(text))
    return text.value.decode()


def version():
    text = ctypes.c_char_p()
    native.core().bplink_version(ctypes.byref(text))
    return text.value.decode()


@dataclass
class Device:
    device_type: int
    protocol: int
    variant: int
    version: int

    @classmethod
    def _of(cls, info):
        return cls(info.device_type, info.protocol, info.variant, info.version)


@dataclass
class Record:
    time: Optional[datetime.datetime]  # None where the device stored no valid time
    sys: int
    press2: int
    press3: int
    pulse: int
    valid: bool
    status: int
    flags_low: int
    flags_high: int
    aux1: int
    aux2: int
    aux3: int
    minute_offset: int


@dataclass
class DataSet:
    mode: int                          # the data mode that names the set
    announced: int                     # records the device announced
    start: Optional[datetime.datetime]
    records: List[Record] = field(default_factory=list)


@dataclass
class Spo2Sample:
    spo2: int
    pulse: int
    time_offset: int


def _time(year, month, day, hour, minute, second):
    try:
        return datetime.datetime(year, month, day, hour, minute, second)
    except ValueError:
        return None


# ---------------------------------------------------------------------------
# Plans: a dictionary with the C struct's field names.

def _plan_to_dict(plan):
    out = {}
    for name, _ in native._PLAN_FIELDS:
        value = getattr(plan, name)
        if name in native.PLAN_TEXTS:
            out[name] = value.decode("latin-1")
        elif isinstance(value, native.WarnGroup):
            out[name] = {"on": value.on, "limits": list(value.limits)}
        elif isinstance(value, ctypes.Array):
            out[name] = list(value)
        else:
            out[name] = value
    return out


def _int(value, where):
    if isinstance(value, bool) or not isinstance(value, int) or not -2**31 <= value < 2**31:
        raise ValueError(f"plan: {where}: expected a whole number, found {value!r}")
    return value


def _ints(values, count, where):
    if not isinstance(values, (list, tuple)) or len(values) != count:
        raise ValueError(f"plan: {where}: expected a list of {count} whole numbers, found {values!r}")
    return [_int(v, f"{where}[{i}]") for i, v in enumerate(values)]


def _plan_from(plan):
    """The C plan of a dictionary: the default plan with the fields it
    names; an unknown field or a wrong value is named."""
    if not isinstance(plan, dict):
        raise ValueError(f"plan: expected a dictionary of plan fields, found {type(plan).__name__}")
    out = native.Plan.new()
    native.core().bplink_plan_default(ctypes.byref(out))
    known = dict(native._PLAN_FIELDS)
    for name, value in plan.items():
        if name not in known:
            raise ValueError(f"plan: {name}: unknown field; the fields are {', '.join(known)}")
        if name in native.PLAN_TEXTS:
            data = value.encode("latin-1") if isinstance(value, str) else value
            limit = native.PLAN_TEXTS[name] - 1
            if not isinstance(data, bytes) or len(data) > limit:
                raise ValueError(f"plan: {name}: expected a text of at most {limit} single-byte characters, "
                                 f"found {value!r}")
            setattr(out, name, data)
        elif known[name] is native.WarnGroup:
            if not isinstance(value, dict) or set(value) - {"on", "limits"}:
                raise ValueError(f"plan: {name}: expected {{'on': 0 or 1, 'limits': [6 numbers]}}, found {value!r}")
            group = getattr(out, name)
            if "on" in value:
                group.on = _int(value["on"], f"{name}.on")
            if "limits" in value:
                group.limits[:] = _ints(value["limits"], 6, f"{name}.limits")
        elif issubclass(known[name], ctypes.Array):
            getattr(out, name)[:] = _ints(value, known[name]._length_, name)
        else:
            setattr(out, name, _int(value, name))
    return out


def default_plan():
    """The plan a device gets when the host changes nothing, as a dictionary."""
    plan = native.Plan.new()
    native.core().bplink_plan_default(ctypes.byref(plan))
    return _plan_to_dict(plan)


# ---------------------------------------------------------------------------
# Downloads

class Download:
    """What one download brought: `device`, `sets` (the blood-pressure sets
    the device type fills), `spo2`, `plan` (a dictionary, or None for devices
    that keep none), `result` (the library's code) and `stopped`."""

    def __init__(self, handle, result, stopped):
        self._handle = ctypes.c_void_p(handle)
        self.result = result
        self.stopped = stopped
        lib = native.core()
        info = native.DeviceInfo.new()
        lib.bplink_download_device(self._handle, ctypes.byref(info))
        self.device = Device._of(info)
        count = ctypes.c_size_t()
        lib.bplink_download_sets(self._handle, ctypes.byref(count))
        self.sets = [self._set(lib, i) for i in range(count.value)]
        lib.bplink_download_spo2_count(self._handle, ctypes.byref(count))
        sample = native.Spo2Record.new()
        self.spo2 = []
        for i in range(count.value):
            lib.bplink_download_spo2(self._handle, i, ctypes.byref(sample))
            self.spo2.append(Spo2Sample(sample.spo2, sample.pulse, sample.time_offset))
        plan = native.Plan.new()
        has_plan = lib.bplink_download_plan(self._handle, ctypes.byref(plan)) == native.OK
        self.plan = _plan_to_dict(plan) if has_plan else None

    def _set(self, lib, index):
        info = native.SetInfo.new()
        lib.bplink_download_set(self._handle, index, ctypes.byref(info))
        out = DataSet(info.mode, info.announced,
                      _time(info.year, info.month, info.day, info.hour, info.minute, info.second))
        r = native.BpRecord.new()
        for i in range(info.records):
            lib.bplink_download_record(self._handle, index, i, ctypes.byref(r))
            out.records.append(Record(_time(r.year, r.month, r.day, r.hour, r.minute, r.second), r.sys, r.press2,
                                      r.press3, r.pulse, bool(r.valid), r.status, r.flags_low, r.flags_high,
                                      r.aux1, r.aux2, r.aux3, r.minute_offset))
        return out

    @property
    def complete(self):
        return self.result == native.OK and not self.stopped

    def record_count(self):
        return sum(len(s.records) for s in self.sets) + len(self.spo2)

    def to_pandas(self):
        """The blood-pressure records as a pandas DataFrame, one row per
        record with the set's data mode in column "mode". Needs pandas."""
        import pandas
        rows = [dict(mode=s.mode, **vars(r)) for s in self.sets for r in s.records]
        columns = ["mode"] + list(Record.__dataclass_fields__)
        return pandas.DataFrame(rows, columns=columns)

    def __del__(self):
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            native.core().bplink_download_free(handle)


def report(data, output, format="html", profile=None, night=None):
    """Writes the ambulatory report of a Download (the report library's
    statistics, HTML with charts, JSON or FHIR) to the file `output`. For
    format "json" and "fhir" the parsed document is returned as well."""
    options = native.ReportOptions.new()
    options.output = str(output).encode()
    options.format = format.encode()
    options.profile = profile.encode() if profile else None
    options.night = night.encode() if night else None
    why = ctypes.create_string_buffer(512)
    r = native.report().bplink_report_write(data._handle, ctypes.byref(options), why, len(why))
    if r != native.OK:
        reason = why.value.decode(errors="replace").removeprefix("bplink report: ")
        raise BplinkError("report", r, reason, code_has_no_words=r == native.CANNOT_START)
    if format in ("json", "fhir"):
        with open(output, encoding="utf-8") as f:
            return json.load(f)
    return None


# ---------------------------------------------------------------------------
# Stopping from another thread

class Stop:
    """Hand one to download(stop=...) and call request() from any thread: the
    transfer stops at its next step and keeps what arrived."""

    def __init__(self):
        self._lock = threading.Lock()
        self._requested = False
        self._protocol = None

    def request(self):
        with self._lock:
            self._requested = True
            if self._protocol is not None:
                native.core().bplink_protocol_stop(self._protocol)

    @property
    def requested(self):
        return self._requested

    def _attach(self, protocol):
        with self._lock:
            self._protocol = protocol


# ---------------------------------------------------------------------------
# Connections

class Connection:
    """A link (the machine's, or a simulated device) and the protocol object
    for the device on it. Use it in a `with` block, or close() it."""

    def __init__(self, sim=None, protocol=None, port=None, sim_records=None, sim_pace_ms=0, sim_device_type=0,
                 sim_silent_after=None):
        self._link = ctypes.c_void_p()
        self._protocol = ctypes.c_void_p()
        self._machine = sim is None
        self._kind = native.LINK_SERIAL
        if sim is not None:
            options = native.SimOptions.new()
            native.sim().bplink_sim_options_init(ctypes.byref(options), None)
            options.family = sim.encode()  # the struct keeps the bytes alive
            if sim_records is not None:
                options.records = sim_records
            if sim_silent_after is not None:
                options.silent_after = sim_silent_after
            options.pace_ms = sim_pace_ms
            options.device_type = sim_device_type
            why = ctypes.create_string_buffer(300)
            r = native.sim().bplink_sim_link(ctypes.byref(options), ctypes.byref(self._link), why, len(why))
            if r != native.OK:
                raise BplinkError(f"simulated device {sim!r}", r, why.value.decode(errors="replace"))
        self._port = port
        self.device = None
        if protocol is not None:
            self._bind(protocol)

    def _ensure_link(self, kind):
        if self._machine and (not self._link or self._kind != kind):
            self._free_link()
            port = self._port.encode() if (self._port and kind == native.LINK_SERIAL) else None
            r = native.core().bplink_link_open(kind, port, ctypes.byref(self._link))
            if r != native.OK:
                raise BplinkError("link", r)
            self._kind = kind

    def _bind(self, protocol):
        if self._protocol:
            native.core().bplink_protocol_free(self._protocol)
            self._protocol = ctypes.c_void_p()
        self._ensure_link(native.LINK_USB_HID if 1 <= protocol <= 5 else native.LINK_SERIAL)
        r = native.core().bplink_protocol_new(protocol, self._link, ctypes.byref(self._protocol))
        if r != native.OK:
            raise BplinkError(f"protocol {protocol}", r)

    def _reason(self):
        if not self._link:
            return ""
        text = ctypes.create_string_buffer(300)
        native.core().bplink_link_reason(self._link, text, len(text))
        return text.value.decode(errors="replace")

    def detect(self):
        """The device that answers (USB HID first, then the serial ports),
        or None when none does."""
        info = native.DeviceInfo.new()
        link = None if self._machine and not self._port else self._ensure_serial_for_detect()
        r = native.core().bplink_detect(link, ctypes.byref(info))
        if r == 11:
            return None
        if r != native.OK:
            raise BplinkError("detect", r, self._reason())
        self.device = Device._of(info)
        return self.device

    def _ensure_serial_for_detect(self):
        self._ensure_link(native.LINK_SERIAL)
        return self._link

    def _ready(self):
        if not self._protocol:
            device = self.device or self.detect()
            if device is None:
                raise BplinkError("detect", 11)
            self._bind(device.protocol)
        return self._protocol

    def data_modes(self):
        """The data modes the device offers."""
        modes = native.DataModes.new()
        r = native.core().bplink_protocol_data_modes(self._ready(), ctypes.byref(modes))
        if r != native.OK:
            raise BplinkError("data modes", r, self._reason())
        return [m for m in range(native.DATA_MODES) if modes.offered[m] == 1]

    def intervals(self):
        """(first list, second list, current plan): what a plan may use."""
        out = native.Intervals.new()
        r = native.core().bplink_protocol_intervals(self._ready(), ctypes.byref(out))
        if r not in (native.OK, native.NOT_FOR_DEVICE):
            raise BplinkError("intervals", r, self._reason())
        return (list(out.interval1[:out.count1]), list(out.interval2[:out.count2]), _plan_to_dict(out.plan))

    def download(self, mode=0, stop: Optional[Stop] = None,
                 on_progress: Optional[Callable[[int, int, int], None]] = None):
        """Downloads in data mode `mode` (0: the first the device offers).
        Raises BplinkError when the transfer failed and nothing arrived; a
        failure part-way returns what arrived, with `result` telling why."""
        protocol = self._ready()
        raised = []

        def tell(_user, progress, state, stage):
            try:
                if stop is not None and stop.requested and state == native.STATE_RUNNING:
                    native.core().bplink_protocol_stop(protocol)
                if on_progress is not None:
                    on_progress(progress, state, stage)
            except BaseException as e:  # noqa: B902 -- handed back to the caller's thread below
                raised.append(e)
                native.core().bplink_protocol_stop(protocol)

        callback = native.PROGRESS_FN(tell)
        native.core().bplink_protocol_on_progress(protocol, callback, None)
        if stop is not None:
            stop._attach(protocol)
        handle = ctypes.c_void_p()
        try:
            r = native.core().bplink_download_run(protocol, mode, ctypes.byref(handle))
        finally:
            if stop is not None:
                stop._attach(None)
            native.core().bplink_protocol_on_progress(protocol, native.PROGRESS_FN(), None)
        if raised:
            if handle:
                native.core().bplink_download_free(handle)
            raise raised[0]
        if not handle:
            raise BplinkError("download", r, self._reason())
        data = Download(handle.value, r, stop is not None and stop.requested)
        if r != native.OK and data.record_count() == 0:
            raise BplinkError("download", r, self._reason())
        return data

    def upload(self, plan, mode=0):
        """Writes a plan to the device. `plan` is a plan file as `bplink
        upload` reads it: its JSON text (str or bytes) or its path (a
        pathlib.Path); or a dictionary of the C plan's fields. Fields not
        named keep the default plan's values. A plan file is first held to
        what the device allows (PlanError, naming the field and its allowed
        values, and nothing is sent); fields it sets that the device does not
        keep are named in a PlanWarning."""
        if isinstance(plan, os.PathLike):
            with open(plan, "rb") as f:
                plan = f.read()
        if isinstance(plan, (str, bytes)):
            text = plan.encode("utf-8") if isinstance(plan, str) else plan
            message = ctypes.create_string_buffer(1024)
            r = native.core().bplink_upload_json(self._ready(), text, mode, message, len(message))
            said = message.value.decode("utf-8", "replace")
            if r in (native.CANNOT_START, native.NOT_FOR_DEVICE) and said:
                raise PlanError("upload", r, said, code_has_no_words=True)
            if r != native.OK:
                raise BplinkError("upload", r, said or self._reason())
            if said:
                warnings.warn(said, PlanWarning, stacklevel=2)
            return
        c_plan = _plan_from(plan)
        r = native.core().bplink_upload(self._ready(), ctypes.byref(c_plan), mode)
        if r != native.OK:
            raise BplinkError("upload", r, self._reason())

    def delete(self, mode=0):
        """Deletes the stored measurements (USB HID devices that allow it)."""
        r = native.core().bplink_delete(self._ready(), mode)
        if r != native.OK:
            raise BplinkError("delete", r, self._reason())

    def _free_link(self):
        if self._link:
            native.core().bplink_link_free(self._link)
            self._link = ctypes.c_void_p()

    def close(self):
        if self._protocol:
            native.core().bplink_protocol_free(self._protocol)
            self._protocol = ctypes.c_void_p()
        self._free_link()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        if hasattr(self, "_protocol"):
            self.close()


def connect(sim=None, protocol=None, port=None, **sim_options):
    """A Connection to the machine's device (or `sim`, a simulated device of
    that family: "hid", "kx71", "kv32", "vestra16", "vestra16c", "vestra18").
    `protocol` names the protocol code instead of detecting it; `port`
    limits the serial search to one port."""
    return Connection(sim=sim, protocol=protocol, port=port, **sim_options)


def detect(sim=None, port=None):
    """The connected device, or None."""
    with connect(sim=sim, port=port) as c:
        return c.detect()


def download(sim=None, protocol=None, port=None, mode=0, stop=None, on_progress=None, **sim_options):
    """Detects the device (or uses `protocol`) and downloads what it stored."""
    with connect(sim=sim, protocol=protocol, port=port, **sim_options) as c:
        return c.download(mode=mode, stop=stop, on_progress=on_progress)


def upload(plan, sim=None, protocol=None, port=None, mode=0):
    """Detects the device (or uses `protocol`) and writes the plan to it: a
    plan file's text or path, or a dictionary (see Connection.upload)."""
    with connect(sim=sim, protocol=protocol, port=port) as c:
        c.upload(plan, mode=mode)
