"""A build backend for this package of plain Python files: it writes the
wheel, and the metadata pip asks for first, with the standard library alone,
so installing needs no build tools from a package index."""

import base64
import hashlib
import os
import re
import zipfile

NAME = "bplink"
HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SUMMARY = "Talk to blood-pressure monitors over USB HID and serial links (libbplink's C interface)"


def _version():
    path = os.path.join(HERE, "..", "CMakeLists.txt")
    with open(path, encoding="utf-8") as f:
        found = re.search(r"project\(bplink VERSION (\d+\.\d+\.\d+)", f.read())
    if not found:
        raise RuntimeError(f"{path}: no 'project(bplink VERSION x.y.z' to take the version from")
    return found.group(1)


def _dist_info():
    version = _version()
    name = f"{NAME}-{version}.dist-info"
    metadata = (f"Metadata-Version: 2.1\nName: {NAME}\nVersion: {version}\nSummary: {SUMMARY}\n"
                "Requires-Python: >=3.9\nProvides-Extra: pandas\nRequires-Dist: pandas; extra == \"pandas\"\n")
    wheel = "Wheel-Version: 1.0\nGenerator: bplink wheel_backend\nRoot-Is-Purelib: true\nTag: py3-none-any\n"
    return version, name, {"METADATA": metadata, "WHEEL": wheel}


def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    _, name, files = _dist_info()
    os.makedirs(os.path.join(metadata_directory, name), exist_ok=True)
    for file, text in files.items():
        with open(os.path.join(metadata_directory, name, file), "w", encoding="utf-8") as f:
            f.write(text)
    return name


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    version, dist_info, files = _dist_info()
    wheel_name = f"{NAME}-{version}-py3-none-any.whl"
    record = []

    def add(archive, path, data):
        archive.writestr(path, data)
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        record.append(f"{path},sha256={digest},{len(data)}")

    with zipfile.ZipFile(os.path.join(wheel_directory, wheel_name), "w", zipfile.ZIP_DEFLATED) as archive:
        package = os.path.join(HERE, NAME)
        for file in sorted(os.listdir(package)):
            if file.endswith(".py"):
                with open(os.path.join(package, file), "rb") as f:
                    add(archive, f"{NAME}/{file}", f.read())
        for file, text in files.items():
            add(archive, f"{dist_info}/{file}", text.encode())
        record.append(f"{dist_info}/RECORD,,")
        archive.writestr(f"{dist_info}/RECORD", "\n".join(record) + "\n")
    return wheel_name
