"""Fixtures: the built programs (HARNIX_EXE, HARNIX_UTIL_EXE) and sets of generated inputs."""

import os
import struct
import subprocess

import pytest

HARNIX = os.environ.get("HARNIX_EXE", "harnix")
UTIL = os.environ.get("HARNIX_UTIL_EXE", "harnix-util")


def synth(folder, *options, count=5, width=48, height=36):
    subprocess.run([UTIL, "synth", "--out", str(folder), "--count", str(count), "--width",
                    str(width), "--height", str(height), *options], check=True,
                   stdout=subprocess.DEVNULL)
    return sorted(str(p) for p in folder.iterdir() if p.suffix == ".dat")


def short_header_copy(source, target, intensity=False):
    """`source` (a 4096-byte header) rewritten with the 834-byte header of its PhaseRes, and
    with one intensity plane over the phase window when asked."""
    data = open(source, "rb").read()
    header = bytearray(data[:834])
    phase_res = struct.unpack_from(">h", header, 218)[0]
    struct.pack_into(">IhI", header, 0, 0x881B0370 if phase_res >= 2 else 0x881B036F,
                     2 if phase_res >= 2 else 1, 834)
    blocks = data[4096:]
    if intensity:
        x, y, w, h = struct.unpack_from(">hhhh", header, 64)
        plane = bytes((i * 7 + 3) % 256 for i in range(2 * w * h))
        struct.pack_into(">hhhhhhI", header, 48, x, y, w, h, 1, 4095, len(plane))
        blocks = plane + blocks
    open(target, "wb").write(bytes(header) + blocks)
    return str(target)


_SETS = {}


@pytest.fixture(scope="module")
def sets(tmp_path_factory):
    """Named input sets: plain, windowed and mixed attributes with dropouts, spiked.

    Generated once for the whole test run and shared by every test."""
    if not _SETS:
        _SETS.update(_make_sets(tmp_path_factory.mktemp("sets")))
    return _SETS


def _make_sets(root):
    made = {}
    for name, options in {"plain": [], "windows": ["--windows", "--invalid", "8"],
                          "mixed": ["--mixed", "--invalid", "20"],
                          "spikes": ["--spikes", "2%", "--dust", "2"]}.items():
        folder = root / name
        made[name] = synth(folder, "--seed", str(len(made) + 3), *options)
    made["shifted"] = synth(root / "shifted", "--seed", "9", "--texture", "20", "--shift", "3",
                            width=64, height=64)
    made["other camera"] = synth(root / "other", count=1, width=20, height=10)
    # Inputs of a few ms each, for runs long enough to interrupt.
    made["large"] = synth(root / "large", count=2, width=512, height=512)
    return made
