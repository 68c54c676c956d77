"""harnix.read, info and write against the C++ reader (harnix-util info) and the file bytes."""

import gc
import json
import os
import time
import zipfile
import subprocess

import numpy as np
import pytest

import harnix
from conftest import UTIL, short_header_copy


def util_info(path):
    out = subprocess.run([UTIL, "info", "--json", path], check=True, capture_output=True)
    return json.loads(out.stdout)["files"][0]


@pytest.fixture(scope="module")
def variants(sets, tmp_path_factory):
    """One file of each header variant, the short ones with and without an intensity plane."""
    folder = tmp_path_factory.mktemp("variants")
    files = {"long": sets["windows"][0]}
    by_res = {}
    for p in sets["mixed"]:
        by_res.setdefault(harnix.info(p)["PhaseRes"] >= 2, p)
    files["short"] = short_header_copy(by_res[False], folder / "v1.dat", intensity=True)
    files["short-super"] = short_header_copy(by_res[True], folder / "v2.dat")
    return files


@pytest.mark.parametrize("variant", ["long", "short", "short-super"])
def test_read_matches_the_reader_and_writes_back_the_same_bytes(variants, variant, tmp_path):
    path = variants[variant]
    m = harnix.read(path)
    facts = util_info(path)
    a = facts["attributes"]
    assert {k: m.attributes[k] for k in ("TimeStamp", "PhaseRes", "CameraWidth", "comment")} == \
        {k: a[k] for k in ("TimeStamp", "PhaseRes", "CameraWidth", "comment")}
    assert m.metres_per_count == facts["height_per_count_m"]
    assert m.spacing == facts["lateral_spacing_m"]
    w = facts["phase_window"]
    assert tuple(m.window) == (w["x"], w["y"], w["width"], w["height"])
    stats = facts["statistics"]
    assert int(m.valid.sum()) == stats["valid_points"]
    assert m.phase[m.valid].min() == stats["counts"]["min"]
    assert np.nanmax(m.heights) == stats["metres"]["max"]
    assert np.isnan(m.heights[~m.valid]).all()
    assert m.phase.base is not None  # lent, not copied
    assert (m.intensity is not None) == (variant == "short")
    assert harnix.info(path) == m.attributes
    harnix.write(tmp_path / "back.dat", m)
    assert (tmp_path / "back.dat").read_bytes() == open(path, "rb").read()


@pytest.mark.parametrize("target", ["new", "existing", "link"])
def test_write_replaces_whole_and_leaves_no_temporary(sets, tmp_path, target):
    source = sets["plain"][0]
    real = tmp_path / "out.dat"
    name = real
    if target != "new":
        real.write_bytes(b"old contents")
    if target == "link":
        name = tmp_path / "link.dat"
        name.symlink_to(real)
    m = harnix.read(source)
    open_files = len(os.listdir("/proc/self/fd"))
    for _ in range(3):
        harnix.write(name, m)
    assert real.read_bytes() == open(source, "rb").read()
    assert name.is_symlink() == (target == "link")
    assert sorted(p.name for p in tmp_path.iterdir()) == \
        sorted({"out.dat", name.name})
    # The files replaced are let go soon after.
    deadline = time.monotonic() + 5
    while len(os.listdir("/proc/self/fd")) > open_files and time.monotonic() < deadline:
        time.sleep(0.01)
    assert len(os.listdir("/proc/self/fd")) == open_files


def test_arrays_outlive_their_measurement(sets):
    m = harnix.read(sets["plain"][0])
    phase, expected = m.phase, m.phase.copy()
    del m
    gc.collect()
    assert np.array_equal(phase, expected)


def test_levelling_parameters_and_x3p_match_harnix_util(sets, tmp_path):
    path = sets["plain"][1]
    m = harnix.read(path)
    p = harnix.parameters(m, level="plane")
    assert p == pytest.approx({k: v for k, v in util_info_levelled(path).items()
                               if k in p and k != "levelling"} | {"levelling": "plane"})
    assert np.nanmean(harnix.level(m, "plane")) == pytest.approx(0, abs=1e-6)
    harnix.export(tmp_path / "m.x3p", m, level="plane")
    subprocess.run([UTIL, "export", path, "--format", "x3p", "--level", "plane", "-o",
                    str(tmp_path / "u.x3p")], check=True)
    ours, theirs = zipfile.ZipFile(tmp_path / "m.x3p"), zipfile.ZipFile(tmp_path / "u.x3p")
    assert ours.read("bindata/data.bin") == theirs.read("bindata/data.bin")


def util_info_levelled(path):
    out = subprocess.run([UTIL, "info", "--json", "--level", "plane", path], check=True,
                         capture_output=True)
    return json.loads(out.stdout)["files"][0]["parameters"]


@pytest.mark.parametrize("call, error", [
    (lambda p: harnix.read(42), TypeError),
    (lambda p: harnix.read(""), ValueError),
    (lambda p: harnix.level(harnix.read(p), "wobbly"), ValueError),
    (lambda p: harnix.export("x.x3p", harnix.read(p), format="tiff"), ValueError),
])
def test_wrong_arguments(sets, call, error):
    with pytest.raises(error):
        call(sets["plain"][0])


def test_unreadable_files_raise_with_code_and_file(tmp_path):
    bad = tmp_path / "bad.dat"
    bad.write_bytes(b"not a data file at all")
    for path, code in ((tmp_path / "none.dat", "ERR_CANT_OPEN_FILE"),
                       (bad, "ERR_NOT_A_DATA_FILE")):
        with pytest.raises(harnix.HarnixError) as e:
            harnix.read(path)
        assert (e.value.code, e.value.file) == (code, str(path))
        assert e.value.message == f'Error reading input file "{path}"'
