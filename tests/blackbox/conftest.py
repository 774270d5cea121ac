"""Fixtures of the black-box tests: every test gets its own emulated camera
(device root, private bus, device API) in a temporary folder.

--keep-camera keeps the folders for inspection; --update-golden rewrites the
golden files that tests compare against.
"""
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2]))

from emulator.camera import Camera  # noqa: E402


def pytest_addoption(parser):
    parser.addoption("--keep-camera", action="store_true", help="keep the emulated camera's folder")
    parser.addoption("--update-golden", action="store_true", help="rewrite golden files")


@pytest.fixture
def camera(tmp_path_factory, request):
    workdir = tmp_path_factory.mktemp("camera")
    cam = Camera(workdir)
    cam.start()
    yield cam
    cam.stop()
    if request.config.getoption("--keep-camera"):
        print(f"\nemulated camera kept in {workdir}")


@pytest.fixture
def update_golden(request):
    return request.config.getoption("--update-golden")
