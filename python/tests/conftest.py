import os
import shutil

import pytest


@pytest.fixture(scope="session")
def program():
    """The bplink program the package is compared with: BPLINK_PROGRAM, or
    `bplink` on the PATH."""
    path = os.environ.get("BPLINK_PROGRAM") or shutil.which("bplink")
    if not path:
        pytest.fail("set BPLINK_PROGRAM to the bplink program built with the library")
    return path
