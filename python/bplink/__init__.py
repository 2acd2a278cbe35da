"""Talk to blood-pressure monitors from Python, through libbplink's C interface.

    >>> import bplink
    >>> data = bplink.download(sim="hid")      # or download() for the connected device
    >>> len(data.sets[0].records)

Every call blocks until the device is done; a download can be stopped from
another thread with a `Stop`, and then comes back with `stopped` set and the
records that arrived. Failures raise `BplinkError`, whose message is the
library's words for the result code and the link's reason (`reason`: why a
port could not be opened, in the system's words). A plan is held to what the
device allows before any of it is sent, by the same check the C interface and
the program make: a refusal raises `PlanError`, naming the field and the
values it may hold, and a plan that cannot give a valid recording raises
`PlanWarning` unless the upload is told to accept it.
"""

from __future__ import annotations

import ctypes
import datetime
import json
import os
import threading
import warnings
from dataclasses import dataclass, field
from typing import Any, Callable, Dict, List, Mapping, Optional, Sequence, Union

from . import _native as native

__all__ = ["BplinkError", "PlanError", "PlanWarning", "FieldsNotKept", "WouldErase", "Connection", "DataSet",
           "DetectedPort", "Device", "Download", "Record", "Spo2Sample", "Stop", "connect", "default_plan",
           "detect", "detect_all", "download", "report", "result_text", "upload", "version"]

#: A plan as this package takes it: a plan file's JSON text (str or bytes),
#: its path, or a dictionary of the C struct bplink_plan's fields.
PlanSource = Union[str, bytes, "os.PathLike[str]", Mapping[str, Any]]
#: Called on the transfer's thread with (progress 0..100, state, stage).
ProgressCallback = Callable[[int, int, int], None]


class BplinkError(Exception):
    """A call the library answered with a failure code: `code`, and `reason`
    (the link's own words, such as "/dev/ttyUSB0 cannot be opened: permission
    denied: ...") when it has one."""

    def __init__(self, what: str, code: int, reason: str = "", code_has_no_words: bool = False) -> None:
        # code_has_no_words: the code stands for a kind of failure the
        # library's words do not describe (a plan, a report option); the reason says it.
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


class PlanWarning(PlanError):
    """A plan the device would take but that cannot give a valid recording
    (too few readings by day or by night, none at all, equal or swapped day
    and night starts): nothing was sent. `warnings` holds the check's
    words, one a finding, each naming the fields; upload(...,
    accept_warnings=True) sends the plan once a person confirmed them."""

    def __init__(self, what: str, code: int, reason: str) -> None:
        super().__init__(what, code, reason, code_has_no_words=True)
        self.warnings = reason.splitlines()


class WouldErase(BplinkError):
    """An upload that starts a new recording, or a delete, would erase
    readings the device holds: nothing was erased. `held` is how many.
    Download them first and keep them, or pass discard=True once a person
    said they may be lost."""

    def __init__(self, what: str, held: int, said: str) -> None:
        super().__init__(what, native.WOULD_ERASE, said.split("; file them first")[0] +
                         "; download them first, or pass discard=True to erase them unread",
                         code_has_no_words=True)
        self.held = held


class FieldsNotKept(UserWarning):
    """The device does not keep some fields the plan sets (their values are
    not stored), or the plan's warnings were accepted; the message names them."""


def result_text(code: int) -> str:
    """The library's words for a result code."""
    text = ctypes.c_char_p()
    native.core().bplink_result_text(code, ctypes.byref(text))
    return (text.value or b"").decode()


def version() -> str:
    """The library's version, "MAJOR.MINOR.PATCH"."""
    text = ctypes.c_char_p()
    native.core().bplink_version(ctypes.byref(text))
    return (text.value or b"").decode()


@dataclass
class Device:
    device_type: int
    protocol: int
    variant: int
    version: int

    @classmethod
    def _of(cls, info: native.DeviceInfo) -> Device:
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


@dataclass
class DetectedPort:
    """What one link gave detect_all: `link` ("usb-hid" or "serial"), `port`
    (the serial port's name; "" for the USB HID link), `status` (the C
    interface's BPLINK_PORT_* code) and `status_text` in words, `device` when
    one answered, else `reason` (why not, in the transport's words)."""
    link: str
    port: str
    status: int
    status_text: str
    device: Optional[Device]
    reason: str

    FOUND = 1
    SILENT = 2
    CANNOT_OPEN = 3
    NOT_PERMITTED = 4
    GONE = 5
    STOPPED = 6

    @property
    def found(self) -> bool:
        return self.status == DetectedPort.FOUND


def _time(year: int, month: int, day: int, hour: int, minute: int, second: int) -> Optional[datetime.datetime]:
    try:
        return datetime.datetime(year, month, day, hour, minute, second)
    except ValueError:
        return None


def _text(value: Optional[bytes]) -> str:
    return (value or b"").decode("utf-8", "replace")


# ---------------------------------------------------------------------------
# Plans: a dictionary with the C struct's field names.

def _plan_to_dict(plan: native.Plan) -> Dict[str, Any]:
    out: Dict[str, Any] = {}
    for name, _ in native.PLAN_FIELDS:
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


def _int(value: Any, where: str) -> int:
    if isinstance(value, bool) or not isinstance(value, int) or not -2**31 <= value < 2**31:
        raise ValueError(f"plan: {where}: expected a whole number, found {value!r}")
    return value


def _ints(values: Any, count: int, where: str) -> List[int]:
    if not isinstance(values, (list, tuple)) or len(values) != count:
        raise ValueError(f"plan: {where}: expected a list of {count} whole numbers, found {values!r}")
    return [_int(v, f"{where}[{i}]") for i, v in enumerate(values)]


def _plan_from(plan: Mapping[str, Any]) -> native.Plan:
    """The C plan of a dictionary: the default plan with the fields it
    names; an unknown field or a value of the wrong kind is named. Whether
    the device allows the values is the library's check, at upload."""
    if not isinstance(plan, Mapping):
        raise ValueError(f"plan: expected a dictionary of plan fields, found {type(plan).__name__}")
    out = native.Plan.new()
    native.core().bplink_plan_default(ctypes.byref(out))
    known = dict(native.PLAN_FIELDS)
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
            if not isinstance(value, Mapping) or set(value) - {"on", "limits"}:
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


def default_plan() -> Dict[str, Any]:
    """The plan a device gets when the host changes nothing, as a dictionary."""
    plan = native.Plan.new()
    native.core().bplink_plan_default(ctypes.byref(plan))
    return _plan_to_dict(plan)


# ---------------------------------------------------------------------------
# Downloads

class Download:
    """What one download brought: `device`, `sets` (the blood-pressure sets
    the device type fills), `spo2`, `plan` (a dictionary, or None for devices
    that keep none), `result` (the library's code: 1 done, 12 stopped by the
    host, else why it failed part-way), `stopped` and `complete`."""

    def __init__(self, handle: int, result: int) -> None:
        self._handle: Optional[ctypes.c_void_p] = ctypes.c_void_p(handle)
        self.result = result
        lib = native.core()
        info = native.DeviceInfo.new()
        lib.bplink_download_device(self._handle, ctypes.byref(info))
        self.device = Device._of(info)
        count = ctypes.c_size_t()
        lib.bplink_download_sets(self._handle, ctypes.byref(count))
        self.sets = [self._set(lib, i) for i in range(count.value)]
        lib.bplink_download_spo2_count(self._handle, ctypes.byref(count))
        sample = native.Spo2Record.new()
        self.spo2: List[Spo2Sample] = []
        for i in range(count.value):
            lib.bplink_download_spo2(self._handle, i, ctypes.byref(sample))
            self.spo2.append(Spo2Sample(sample.spo2, sample.pulse, sample.time_offset))
        plan = native.Plan.new()
        has_plan = lib.bplink_download_plan(self._handle, ctypes.byref(plan)) == native.OK
        self.plan: Optional[Dict[str, Any]] = _plan_to_dict(plan) if has_plan else None

    def _set(self, lib: Any, index: int) -> DataSet:
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
    def stopped(self) -> bool:
        """The host stopped the transfer part-way: the records are those that arrived."""
        return self.result == native.STOPPED

    @property
    def complete(self) -> bool:
        return self.result == native.OK

    def record_count(self) -> int:
        return sum(len(s.records) for s in self.sets) + len(self.spo2)

    def to_pandas(self) -> Any:
        """The blood-pressure records as a pandas DataFrame, one row per
        record with the set's data mode in column "mode". Needs pandas."""
        import pandas  # type: ignore[import]
        rows = [dict(mode=s.mode, **vars(r)) for s in self.sets for r in s.records]
        columns = ["mode"] + list(Record.__dataclass_fields__)
        return pandas.DataFrame(rows, columns=columns)

    def __del__(self) -> None:
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            native.core().bplink_download_free(handle)


def report(data: Download, output: Union[str, "os.PathLike[str]"], format: str = "html",
           profile: Optional[str] = None, night: Optional[str] = None) -> Optional[Any]:
    """Writes the ambulatory report of a Download (the report library's
    statistics, HTML with charts, JSON or FHIR) to the file `output`. For
    format "json" and "fhir" the parsed document is returned as well."""
    options = native.ReportOptions.new()
    options.output = os.fspath(output).encode()
    options.format = format.encode()
    options.profile = profile.encode() if profile else None
    options.night = night.encode() if night else None
    why = ctypes.create_string_buffer(512)
    r = native.report().bplink_report_write(data._handle, ctypes.byref(options), why, len(why))
    if r != native.OK:
        reason = _text(why.value).removeprefix("bplink report: ")
        raise BplinkError("report", r, reason, code_has_no_words=r == native.CANNOT_START)
    if format in ("json", "fhir"):
        with open(output, encoding="utf-8") as f:
            return json.load(f)
    return None


# ---------------------------------------------------------------------------
# Stopping from another thread

class Stop:
    """Hand one to download(stop=...) and call request() from any thread: the
    transfer stops at its next step, keeps what arrived and comes back with
    `stopped` set."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._requested = False
        self._protocol: Optional[ctypes.c_void_p] = None

    def request(self) -> None:
        with self._lock:
            self._requested = True
            if self._protocol is not None:
                native.core().bplink_protocol_stop(self._protocol)

    @property
    def requested(self) -> bool:
        return self._requested

    def _attach(self, protocol: Optional[ctypes.c_void_p]) -> None:
        with self._lock:
            self._protocol = protocol


# ---------------------------------------------------------------------------
# Detection over every link at once

def detect_all(ports: Optional[Sequence[str]] = None, hid: bool = True,
               timeout_ms: Optional[int] = None) -> List[DetectedPort]:
    """Every device connected, and what each other link gave: the USB HID link
    (unless `hid` is false) and every serial port (`ports`, or every port the
    machine lists) asked at once, one thread per link inside the library, so
    eight ports take about as long as one. `timeout_ms`: the serial receive
    time-out of every probe (default 500; a pty needs 100 to 200)."""
    options = native.DetectOptions.new()
    native.core().bplink_detect_options_init(ctypes.byref(options))
    if ports is not None:
        names = [os.fsencode(p) for p in ports]
        array = (ctypes.c_char_p * max(len(names), 1))(*names)  # alive until the call returns
        options.ports = ctypes.cast(array, ctypes.POINTER(ctypes.c_char_p))
        options.port_count = len(names)
    options.probe_hid = 1 if hid else 0
    if timeout_ms is not None:
        options.serial_timeout_ms = timeout_ms
    handle = ctypes.c_void_p()
    r = native.core().bplink_detect_all(ctypes.byref(options), ctypes.byref(handle))
    if not handle:
        raise BplinkError("detect_all", r)
    try:
        count = ctypes.c_size_t()
        native.core().bplink_detection_count(handle, ctypes.byref(count))
        found = []
        port = native.DetectedPort.new()
        for i in range(count.value):
            native.core().bplink_detection_port(handle, i, ctypes.byref(port))
            status = port.status
            found.append(DetectedPort("usb-hid" if port.link == native.LINK_USB_HID else "serial", _text(port.port),
                                      status, _text(port.status_text),
                                      Device._of(port.device) if status == DetectedPort.FOUND else None,
                                      _text(port.reason)))
        return found
    finally:
        native.core().bplink_detection_free(handle)


# ---------------------------------------------------------------------------
# Connections

class Connection:
    """A link (the machine's, or a simulated device) and the protocol object
    for the device on it. Use it in a `with` block, or close() it."""

    def __init__(self, sim: Optional[str] = None, protocol: Optional[int] = None, port: Optional[str] = None,
                 timeout_ms: Optional[int] = None, sim_records: Optional[int] = None, sim_pace_ms: int = 0,
                 sim_device_type: int = 0, sim_silent_after: Optional[int] = None) -> None:
        self._link = ctypes.c_void_p()
        self._protocol = ctypes.c_void_p()
        self.device: Optional[Device] = None
        self.why_none = ""  # why detect() found no device
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
                raise BplinkError(f"simulated device {sim!r}", r, _text(why.value))
        else:
            # The machine's link reaches the USB HID device and the serial
            # ports (`port` limits the serial search to that one).
            r = native.core().bplink_link_open(native.LINK_SERIAL, port.encode() if port else None,
                                               ctypes.byref(self._link))
            if r != native.OK:
                raise BplinkError("link", r)
            if timeout_ms is not None:
                native.core().bplink_link_timeout(self._link, timeout_ms)
        if protocol is not None:
            self._bind(protocol)

    def _bind(self, protocol: int) -> None:
        if self._protocol:
            native.core().bplink_protocol_free(self._protocol)
            self._protocol = ctypes.c_void_p()
        r = native.core().bplink_protocol_new(protocol, self._link, ctypes.byref(self._protocol))
        if r != native.OK:
            raise BplinkError(f"protocol {protocol}", r)

    def _reason(self) -> str:
        if not self._link:
            return ""
        text = ctypes.create_string_buffer(1024)
        native.core().bplink_link_reason(self._link, text, len(text))
        return _text(text.value)

    def _message(self) -> str:
        text = ctypes.create_string_buffer(2048)
        native.core().bplink_protocol_message(self._protocol, text, len(text))
        return _text(text.value)

    def detect(self) -> Optional[Device]:
        """The device that answers (USB HID first, then the serial ports),
        or None when none does (then `why_none` says why each link gave none)."""
        info = native.DeviceInfo.new()
        r = native.core().bplink_detect(self._link, ctypes.byref(info))
        if r == native.NO_DEVICE:
            self.why_none = self._reason()
            return None
        if r != native.OK:
            raise BplinkError("detect", r, self._reason())
        self.device = Device._of(info)
        return self.device

    def _ready(self) -> ctypes.c_void_p:
        if not self._protocol:
            device = self.device or self.detect()
            if device is None:
                raise BplinkError("detect", native.NO_DEVICE, self.why_none)
            self._bind(device.protocol)
        return self._protocol

    def data_modes(self) -> List[int]:
        """The data modes the device offers."""
        modes = native.DataModes.new()
        r = native.core().bplink_protocol_data_modes(self._ready(), ctypes.byref(modes))
        if r != native.OK:
            raise BplinkError("data modes", r, self._reason())
        return [m for m in range(native.DATA_MODES) if modes.offered[m] == 1]

    def intervals(self) -> tuple[List[int], List[int], Dict[str, Any]]:
        """(first list, second list, current plan): what a plan may use."""
        out = native.Intervals.new()
        r = native.core().bplink_protocol_intervals(self._ready(), ctypes.byref(out))
        if r not in (native.OK, native.NOT_FOR_DEVICE):
            raise BplinkError("intervals", r, self._reason())
        return (list(out.interval1[:out.count1]), list(out.interval2[:out.count2]), _plan_to_dict(out.plan))

    def download(self, mode: int = 0, stop: Optional[Stop] = None,
                 on_progress: Optional[ProgressCallback] = None) -> Download:
        """Downloads in data mode `mode` (0: the first the device offers).
        Raises BplinkError when the transfer failed and nothing arrived; a
        failure part-way returns what arrived, with `result` telling why,
        and a stop returns what arrived with `stopped` set. A whole
        download's progress ends at 100."""
        protocol = self._ready()
        raised: List[BaseException] = []

        def tell(_user: Any, progress: int, state: int, stage: int) -> None:
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
            native.core().bplink_protocol_on_progress(protocol, native.PROGRESS_FN(0), None)
        if raised:
            if handle:
                native.core().bplink_download_free(handle)
            raise raised[0]
        if not handle.value:
            raise BplinkError("download", r, self._reason())
        data = Download(handle.value, r)
        if r not in (native.OK, native.STOPPED) and data.record_count() == 0:
            raise BplinkError("download", r, self._reason())
        return data

    def upload(self, plan: PlanSource, mode: int = 0, accept_warnings: bool = False, discard: bool = False) -> None:
        """Writes a plan to the device. `plan` is a plan file as `bplink
        upload` reads it: its JSON text (str or bytes) or its path (a
        pathlib.Path); or a dictionary of the C plan's fields (fields not
        named keep the default plan's values). Either is first held to what
        the device allows, by the library's one check: PlanError, naming the
        field and its allowed values, and nothing is sent. A plan that
        cannot give a valid recording raises PlanWarning, and nothing is
        sent, unless `accept_warnings` (a person confirmed the warnings).
        Where the upload starts a new recording (the KV32 monitor), the
        readings the device holds are not erased unread: WouldErase, with
        their number, unless `discard`. Fields the plan sets that the device
        does not keep, and warnings accepted, are named in a FieldsNotKept
        warning."""
        if isinstance(plan, os.PathLike):
            with open(plan, "rb") as f:
                plan = f.read()
        flags = (native.ACCEPT_WARNINGS if accept_warnings else 0) | (native.MAY_ERASE if discard else 0)
        if isinstance(plan, (str, bytes)):
            text = plan.encode("utf-8") if isinstance(plan, str) else plan
            r = native.core().bplink_upload_json_with(self._ready(), text, mode, flags, None, 0)
        else:
            c_plan = _plan_from(plan)
            r = native.core().bplink_upload_with(self._ready(), ctypes.byref(c_plan), mode, flags)
        said = self._message()
        if r == native.PLAN_WARNED:
            raise PlanWarning("upload", r, said)
        self._raise_would_erase("upload", r, said)
        if r in (native.CANNOT_START, native.NOT_FOR_DEVICE) and said:
            raise PlanError("upload", r, said, code_has_no_words=True)
        if r != native.OK:
            raise BplinkError("upload", r, said or self._reason())
        if said:
            warnings.warn(said, FieldsNotKept, stacklevel=2)

    def delete(self, mode: int = 0, discard: bool = False) -> None:
        """Deletes the stored measurements (USB HID devices that allow it).
        Readings the device holds are not erased unread: WouldErase, with
        their number, unless `discard`."""
        r = native.core().bplink_delete_with(self._ready(), mode, native.MAY_ERASE if discard else 0)
        self._raise_would_erase("delete", r, self._message())
        if r != native.OK:
            raise BplinkError("delete", r, self._reason())

    def _raise_would_erase(self, what: str, r: int, said: str) -> None:
        if r != native.WOULD_ERASE:
            return
        held = ctypes.c_int64()
        native.core().bplink_protocol_would_erase(self._protocol, ctypes.byref(held))
        raise WouldErase(what, held.value, said)

    def close(self) -> None:
        if self._protocol:
            native.core().bplink_protocol_free(self._protocol)
            self._protocol = ctypes.c_void_p()
        if self._link:
            native.core().bplink_link_free(self._link)
            self._link = ctypes.c_void_p()

    def __enter__(self) -> Connection:
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    def __del__(self) -> None:
        if hasattr(self, "_protocol"):
            self.close()


def connect(sim: Optional[str] = None, protocol: Optional[int] = None, port: Optional[str] = None,
            timeout_ms: Optional[int] = None, **sim_options: Any) -> Connection:
    """A Connection to the machine's device (or `sim`, a simulated device of
    that family: "hid", "kx71", "kv32", "vestra16", "vestra16c", "vestra18").
    `protocol` names the protocol code instead of detecting it; `port`
    limits the serial search to one port; `timeout_ms` is the serial receive
    time-out (default 500; a pty answers at once, 100 to 200 is plenty)."""
    return Connection(sim=sim, protocol=protocol, port=port, timeout_ms=timeout_ms, **sim_options)


def detect(sim: Optional[str] = None, port: Optional[str] = None, timeout_ms: Optional[int] = None) -> Optional[Device]:
    """The connected device, or None."""
    with connect(sim=sim, port=port, timeout_ms=timeout_ms) as c:
        return c.detect()


def download(sim: Optional[str] = None, protocol: Optional[int] = None, port: Optional[str] = None, mode: int = 0,
             stop: Optional[Stop] = None, on_progress: Optional[ProgressCallback] = None,
             timeout_ms: Optional[int] = None, **sim_options: Any) -> Download:
    """Detects the device (or uses `protocol`) and downloads what it stored."""
    with connect(sim=sim, protocol=protocol, port=port, timeout_ms=timeout_ms, **sim_options) as c:
        return c.download(mode=mode, stop=stop, on_progress=on_progress)


def upload(plan: PlanSource, sim: Optional[str] = None, protocol: Optional[int] = None, port: Optional[str] = None,
           mode: int = 0, timeout_ms: Optional[int] = None, accept_warnings: bool = False,
           discard: bool = False) -> None:
    """Detects the device (or uses `protocol`) and writes the plan to it: a
    plan file's text or path, or a dictionary (see Connection.upload, also
    for `accept_warnings` and `discard`)."""
    with connect(sim=sim, protocol=protocol, port=port, timeout_ms=timeout_ms) as c:
        c.upload(plan, mode=mode, accept_warnings=accept_warnings, discard=discard)
