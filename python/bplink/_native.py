"""The C interface (<bplink/bplink_c.h>) as ctypes declarations.

The structs mirror the header field for field; each begins with struct_size,
which `new` sets, so the library knows which version of a struct it got.

The libraries are loaded by their versioned names (libbplink.so.0: the ABI
this package is written for), each in its own namespace (no RTLD_GLOBAL), so
they never stand in for another library's symbols. Where from: the
directories BPLINK_LIBRARY_PATH names, else the library directory pkg-config
gives for bplink, else wherever the system's loader finds them.
"""

from __future__ import annotations

import ctypes
import os
import shutil
import subprocess
import sys
from typing import Any, Dict, List, Optional, Sequence, Type, TypeVar

c_int32 = ctypes.c_int32

OK = 1
IO_FAILED = 5
CANNOT_START = 9
NOT_FOR_DEVICE = 10
NO_DEVICE = 11
STOPPED = 12
PLAN_WARNED = 13
WOULD_ERASE = 14
ACCEPT_WARNINGS, MAY_ERASE = 1, 2
STATE_RUNNING, STATE_FAILED, STATE_SUCCEEDED, STATE_STOP_REQUESTED = 1, 2, 3, 5
LINK_USB_HID, LINK_SERIAL = 1, 2
DATA_MODES = 9
MAX_INTERVALS = 32
SOVERSION = 0

_S = TypeVar("_S", bound="_Sized")


class _Sized(ctypes.Structure):
    @classmethod
    def new(cls: Type[_S]) -> _S:
        s = cls()
        s.struct_size = ctypes.sizeof(cls)
        return s


class DeviceInfo(_Sized):
    _fields_ = [("struct_size", ctypes.c_uint32), ("device_type", c_int32), ("protocol", c_int32),
                ("reserved", c_int32), ("variant", c_int32), ("version", c_int32)]


class DataModes(_Sized):
    _fields_ = [("struct_size", ctypes.c_uint32), ("offered", c_int32 * DATA_MODES)]


class WarnGroup(ctypes.Structure):
    _fields_ = [("on", c_int32), ("limits", c_int32 * 6)]


# (name, ctypes type): the plan's fields after struct_size, in the header's order.
PLAN_TEXTS: Dict[str, int] = {"patient1": 31, "patient2": 12, "patient3": 31, "patient4": 31}
PLAN_FIELDS: List[tuple[str, Any]] = [(name, ctypes.c_char * size) for name, size in PLAN_TEXTS.items()] + [
    ("patient_values", c_int32 * 2),
    *[(name, c_int32) for name in ("year", "month", "day", "hour", "minute", "second")],
    ("options", c_int32 * 4),
    *[(name, c_int32) for name in ("extra_start_hour", "extra_start_minute", "extra_end_hour",
                                   "extra_end_minute", "extra_interval", "period1_hour", "period1_minute",
                                   "period1_interval", "period2_hour", "period2_minute", "period2_interval")],
    ("day_warn", WarnGroup), ("night_warn", WarnGroup), ("warn_switch", c_int32)]


class Plan(_Sized):
    _fields_ = [("struct_size", ctypes.c_uint32)] + PLAN_FIELDS


class Intervals(_Sized):
    _fields_ = [("struct_size", ctypes.c_uint32), ("count1", c_int32), ("count2", c_int32),
                ("interval1", c_int32 * MAX_INTERVALS), ("interval2", c_int32 * MAX_INTERVALS), ("plan", Plan)]


class SetInfo(_Sized):
    _fields_ = [("struct_size", ctypes.c_uint32), ("mode", c_int32), ("announced", c_int32),
                *[(n, c_int32) for n in ("year", "month", "day", "hour", "minute", "second")],
                ("records", ctypes.c_size_t)]


RECORD_FIELDS = ("year", "month", "day", "hour", "minute", "second", "sys", "press2", "press3", "pulse", "status",
                 "valid", "flags_low", "flags_high", "aux1", "aux2", "aux3", "minute_offset")


class BpRecord(_Sized):
    _fields_ = [("struct_size", ctypes.c_uint32)] + [(n, c_int32) for n in RECORD_FIELDS]


class Spo2Record(_Sized):
    _fields_ = [("struct_size", ctypes.c_uint32), ("spo2", c_int32), ("pulse", c_int32), ("time_offset", c_int32)]


class DetectOptions(_Sized):
    _fields_ = [("struct_size", ctypes.c_uint32), ("ports", ctypes.POINTER(ctypes.c_char_p)),
                ("port_count", ctypes.c_size_t), ("probe_hid", c_int32), ("serial_timeout_ms", ctypes.c_uint32)]


class DetectedPort(_Sized):
    _fields_ = [("struct_size", ctypes.c_uint32), ("link", c_int32), ("status", c_int32), ("device", DeviceInfo),
                ("port", ctypes.c_char_p), ("status_text", ctypes.c_char_p), ("reason", ctypes.c_char_p)]


class SimOptions(_Sized):
    _fields_ = [("struct_size", ctypes.c_uint32), ("family", ctypes.c_char_p), ("device_type", c_int32),
                ("records", c_int32), ("silent_after", c_int32), ("pace_ms", ctypes.c_uint32),
                ("real_time", c_int32)]


class ReportOptions(_Sized):
    _fields_ = [("struct_size", ctypes.c_uint32), ("output", ctypes.c_char_p), ("format", ctypes.c_char_p),
                ("profile", ctypes.c_char_p), ("night", ctypes.c_char_p)]


_CALL = getattr(ctypes, "WINFUNCTYPE", ctypes.CFUNCTYPE) if sys.platform == "win32" else ctypes.CFUNCTYPE
PROGRESS_FN = _CALL(None, ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int)

_P = ctypes.POINTER
_vp = ctypes.c_void_p
_SIGNATURES: Dict[str, List[Any]] = {
    "bplink_version": [_P(ctypes.c_char_p)],
    "bplink_result_text": [ctypes.c_int, _P(ctypes.c_char_p)],
    "bplink_link_open": [ctypes.c_int, ctypes.c_char_p, _P(_vp)],
    "bplink_link_reason": [_vp, ctypes.c_char_p, ctypes.c_size_t],
    "bplink_link_timeout": [_vp, ctypes.c_uint32],
    "bplink_link_free": [_vp],
    "bplink_detect": [_vp, _P(DeviceInfo)],
    "bplink_detect_options_init": [_P(DetectOptions)],
    "bplink_detect_all": [_P(DetectOptions), _P(_vp)],
    "bplink_detection_count": [_vp, _P(ctypes.c_size_t)],
    "bplink_detection_port": [_vp, ctypes.c_size_t, _P(DetectedPort)],
    "bplink_detection_free": [_vp],
    "bplink_protocol_new": [ctypes.c_int, _vp, _P(_vp)],
    "bplink_protocol_free": [_vp],
    "bplink_protocol_device": [_vp, _P(DeviceInfo)],
    "bplink_protocol_data_modes": [_vp, _P(DataModes)],
    "bplink_protocol_intervals": [_vp, _P(Intervals)],
    "bplink_protocol_on_progress": [_vp, PROGRESS_FN, _vp],
    "bplink_protocol_progress": [_vp, _P(ctypes.c_int), _P(ctypes.c_int), _P(ctypes.c_int)],
    "bplink_protocol_stop": [_vp],
    "bplink_protocol_message": [_vp, ctypes.c_char_p, ctypes.c_size_t],
    "bplink_download_run": [_vp, ctypes.c_int, _P(_vp)],
    "bplink_upload": [_vp, _P(Plan), ctypes.c_int],
    "bplink_upload_json": [_vp, ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_size_t],
    "bplink_upload_with": [_vp, _P(Plan), ctypes.c_int, ctypes.c_uint32],
    "bplink_upload_json_with": [_vp, ctypes.c_char_p, ctypes.c_int, ctypes.c_uint32, ctypes.c_char_p,
                                ctypes.c_size_t],
    "bplink_delete": [_vp, ctypes.c_int],
    "bplink_delete_with": [_vp, ctypes.c_int, ctypes.c_uint32],
    "bplink_protocol_would_erase": [_vp, _P(ctypes.c_int64)],
    "bplink_plan_default": [_P(Plan)],
    "bplink_download_free": [_vp],
    "bplink_download_device": [_vp, _P(DeviceInfo)],
    "bplink_download_sets": [_vp, _P(ctypes.c_size_t)],
    "bplink_download_set": [_vp, ctypes.c_size_t, _P(SetInfo)],
    "bplink_download_record": [_vp, ctypes.c_size_t, ctypes.c_size_t, _P(BpRecord)],
    "bplink_download_spo2_count": [_vp, _P(ctypes.c_size_t)],
    "bplink_download_spo2": [_vp, ctypes.c_size_t, _P(Spo2Record)],
    "bplink_download_plan": [_vp, _P(Plan)],
    "bplink_sim_options_init": [_P(SimOptions), ctypes.c_char_p],
    "bplink_sim_link": [_P(SimOptions), _P(_vp), ctypes.c_char_p, ctypes.c_size_t],
    "bplink_report_write": [_vp, _P(ReportOptions), ctypes.c_char_p, ctypes.c_size_t],
}


def file_names(stem: str) -> List[str]:
    """The names the library `stem` has on this system, the versioned one."""
    if sys.platform == "win32":
        return [f"lib{stem}.dll", f"{stem}.dll"]
    if sys.platform == "darwin":
        return [f"lib{stem}.{SOVERSION}.dylib"]
    return [f"lib{stem}.so.{SOVERSION}"]


def _pkg_config_libdir() -> Optional[str]:
    """The library directory pkg-config names for bplink, if it knows one."""
    pkg_config = shutil.which("pkg-config")
    if pkg_config is None:
        return None
    try:
        found = subprocess.run([pkg_config, "--variable=libdir", "bplink"], capture_output=True, text=True,
                               timeout=10, check=False)
    except (OSError, subprocess.SubprocessError):
        return None
    libdir = found.stdout.strip()
    return libdir if found.returncode == 0 and libdir else None


def search_path() -> List[str]:
    """The directories looked in before the system's loader, in order."""
    given = [d for d in os.environ.get("BPLINK_LIBRARY_PATH", "").split(os.pathsep) if d]
    if given:
        return given
    libdir = _pkg_config_libdir()
    return [libdir] if libdir else []


def _load(stem: str, directories: Sequence[str]) -> Optional[ctypes.CDLL]:
    """The library `stem` from `directories`, else where the system's loader
    finds it. None when it is nowhere."""
    for directory in directories:
        for name in file_names(stem):
            path = os.path.join(directory, name)
            if os.path.exists(path):
                return ctypes.CDLL(path)
    for name in file_names(stem):
        try:
            return ctypes.CDLL(name)
        except OSError:
            pass
    return None


def _declare(lib: ctypes.CDLL) -> ctypes.CDLL:
    for name, args in _SIGNATURES.items():
        function = getattr(lib, name, None)
        if function is not None:
            function.argtypes = args
            function.restype = ctypes.c_int
    return lib


class _Libraries:
    """libbplink, and the simulated devices and the report, loaded when first used."""

    def __init__(self) -> None:
        self._loaded: Dict[str, Optional[ctypes.CDLL]] = {}

    def get(self, stem: str, purpose: str) -> Any:
        if stem not in self._loaded:
            if stem != "bplink":
                self.get("bplink", "the library")  # the companions need the same libbplink, loaded first
            lib = _load(stem, search_path())
            self._loaded[stem] = _declare(lib) if lib is not None else None
        lib = self._loaded[stem]
        if lib is None:
            where = os.pathsep.join(search_path()) or "the system's library path"
            raise OSError(f"{purpose} needs lib{stem} ({', '.join(file_names(stem))}), which is not in {where}; "
                          "set BPLINK_LIBRARY_PATH to the directories that hold it")
        return lib


libraries = _Libraries()


def core() -> Any:
    return libraries.get("bplink", "the library")


def sim() -> Any:
    return libraries.get("bplink_sim_c", "a simulated device")


def report() -> Any:
    return libraries.get("bplink_report_c", "the report")
