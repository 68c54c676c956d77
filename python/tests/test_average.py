"""harnix.average against the command line's bytes, its errors, Ctrl-C and the GIL."""

import _thread
import json
import os
import shutil
import subprocess
import threading
import time

import pytest

import harnix
from conftest import HARNIX

OUTPUTS = {"average": "-AvgOut", "deviation": "-SdevOut", "count": "-CountOut",
           "rejected": "-RejectOut", "minimum": "-MinOut", "maximum": "-MaxOut",
           "range": "-RangeOut", "uncertainty": "-UncertOut", "report": "-InputReport"}


def command_line(paths, folder, options, outputs):
    args = [HARNIX, *options]
    for name in outputs:
        args += [OUTPUTS[name], str(folder / f"cli-{name}")]
    return subprocess.run(args + paths, capture_output=True, text=True)


CASES = [  # set, keyword arguments, the command line's options
    ("plain", {}, []),
    ("plain", {"remove": "piston", "threads": 1}, ["-SdevRemove", "piston", "-Threads", "1"]),
    ("windows", {"remove": "plane", "min_count": 2}, ["-SdevRemove", "plane", "-MinValidCnt", "2"]),
    ("windows", {"remove": "sphere", "min_percent": 50}, ["-SdevRemove", "sphere",
                                                          "-MinValidPct", "50"]),
    ("mixed", {"remove": "cylinder", "min_count": 1, "phase_res": "high"},
     ["-SdevRemove", "cylinder", "-MinValidCnt", "1", "-PhaseRes", "high"]),
    ("mixed", {"remove": "robust", "min_count": 3, "threads": 2},
     ["-SdevRemove", "robust", "-MinValidCnt", "3", "-Threads", "2"]),
    ("spikes", {"reject": 3.0, "min_count": 3}, ["-Reject", "3", "-MinValidCnt", "3"]),
    ("spikes", {"reject": 2.5, "reject_rounds": 3, "remove": "plane", "threads": 2},
     ["-Reject", "2.5", "-RejectIter", "3", "-SdevRemove", "plane", "-Threads", "2"]),
    ("plain", {"combine": "median", "outputs": ["minimum", "maximum"]}, ["-Combine", "median"]),
    ("mixed", {"combine": "Median", "memory_limit": 1, "outputs": ("range",), "min_count": 2},
     ["-Combine", "Median", "-MemoryLimit", "1", "-MinValidCnt", "2"]),
    ("windows", {"level": "plane", "sdev_type": "sample", "outputs": ["range", "uncertainty"]},
     ["-Level", "plane", "-SdevType", "sample"]),
    ("spikes", {"level": "Piston", "reject": 3.0, "outputs": OUTPUTS.keys() - {
        "average", "deviation", "count", "rejected", "report"}}, ["-Level", "Piston", "-Reject", "3"]),
    ("shifted", {"align": "Shift", "align_max": 5, "level": "plane"},
     ["-Align", "shift", "-AlignMax", "5", "-Level", "plane"]),
    ("shifted", {"align": "shift", "combine": "median"}, ["-Align", "shift", "-Combine", "median"]),
]


@pytest.mark.parametrize("name, kwargs, options", CASES)
def test_saved_files_are_the_command_lines_bytes(sets, tmp_path, name, kwargs, options):
    paths = sets[name]
    outputs = ["average", "deviation", "count", "report", *kwargs.get("outputs", ())] + (
        ["rejected"] if "reject" in kwargs else [])
    done = command_line(paths, tmp_path, options, outputs)
    assert done.returncode == 0, done.stderr
    r = harnix.average(iter(paths), report=True, **kwargs)  # a one-pass iterator
    r.save(**{n: tmp_path / f"py-{n}" for n in outputs})
    for n in outputs:
        assert (tmp_path / f"py-{n}").read_bytes() == (tmp_path / f"cli-{n}").read_bytes(), n
    assert len(r.inputs) == len(paths) and r.worst() in r.inputs
    assert tuple(r.average.window) == tuple(harnix.read(tmp_path / "cli-average").window)


def test_a_generator_is_read_once_even_for_several_passes(sets):
    taken = []

    def paths():
        for p in sets["spikes"]:
            taken.append(p)
            yield p

    r = harnix.average(paths(), reject=3.0, report=True)
    assert taken == sets["spikes"] and r.rejected is not None


@pytest.mark.parametrize("second", ["missing", "other camera", "not a data file", "budget"])
def test_failures_carry_the_command_lines_message(sets, tmp_path, second):
    paths = [sets["plain"][0], str(tmp_path / "missing.dat")]
    kwargs, options = {}, []
    if second == "other camera":
        paths[1] = sets["other camera"][0]
    elif second == "not a data file":
        (tmp_path / "missing.dat").write_bytes(b"\0" * 900)
    elif second == "budget":
        paths[1] = sets["plain"][1]
        kwargs, options = {"combine": "median", "memory_limit": 1e-6}, ["-Combine", "median",
                                                                         "-MemoryLimit", "1e-6"]
    done = command_line(paths, tmp_path, options + ["-RunRecord", str(tmp_path / "run.json")],
                        ["average"])
    with pytest.raises(harnix.HarnixError) as e:
        harnix.average(paths, **kwargs)
    lines = [ln[len("ERROR: "):] for ln in done.stderr.splitlines() if ln.startswith("ERROR")]
    assert lines and e.value.message == "\n".join(ln for ln in lines if ln != e.value.code)
    assert e.value.file == ("" if kwargs else paths[1]) and e.value.code.startswith("ERR_")
    assert list(tmp_path.glob("cli-*")) in ([], [tmp_path / "cli-average"])
    cli = json.loads((tmp_path / "run.json").read_text())
    assert e.value.record["result"] == cli["result"] and not cli["result"]["ok"]
    assert e.value.record["inputs"] == cli["inputs"]


@pytest.mark.parametrize("kwargs, error", [
    ({"remove": "wavy"}, ValueError), ({"min_count": 0}, ValueError),
    ({"min_count": 2, "min_percent": 50}, ValueError), ({"min_percent": 120}, ValueError),
    ({"reject": -1}, ValueError), ({"reject_rounds": 2}, ValueError),
    ({"threads": "4"}, TypeError), ({"phase_res": 2}, TypeError), ({"progress": 3}, TypeError),
    ({"level": "tilt"}, ValueError), ({"combine": "median", "level": "plane"}, ValueError),
    ({"memory_limit": 8}, ValueError), ({"combine": "median", "memory_limit": 0}, ValueError),
    ({"sdev_type": None}, TypeError), ({"outputs": ["median"]}, ValueError),
    ({"outputs": "range"}, TypeError), ({"align_max": 4}, ValueError),
])
def test_wrong_arguments(sets, kwargs, error):
    with pytest.raises(error):
        harnix.average(sets["plain"], **kwargs)


@pytest.mark.parametrize("kwargs, error, text", [
    ({"remove": "Wavy"}, ValueError, 'remove must be one of none, piston, plane, sphere, '
                                     'cylinder, robust, not "Wavy"'),
    ({"remove": 1}, TypeError, "remove must be a str (none, piston, plane, sphere, cylinder, "
                               "robust)"),
    ({"level": "tilt"}, ValueError, 'level must be one of none, piston, plane, not "tilt"'),
    ({"combine": "mode"}, ValueError, 'combine must be one of mean, median, not "mode"'),
    ({"sdev_type": None}, TypeError, "sdev_type must be a str (population, sample)"),
    ({"sdev_type": "unbiased"}, ValueError,
     'sdev_type must be one of population, sample, not "unbiased"'),
    ({"align": "Shifts"}, ValueError, 'align must be one of none, shift, not "Shifts"'),
    ({"phase_res": "ultra"}, ValueError, 'phase_res must be one of normal, high, super, not '
                                         '"ultra"'),
    ({"phase_res": 2}, TypeError, "phase_res must be a str (normal, high, super)"),
    ({"outputs": ["median"]}, ValueError,
     'outputs must be one of minimum, maximum, range, uncertainty, not "median"'),
])
def test_choice_texts(sets, kwargs, error, text):
    with pytest.raises(error) as e:
        harnix.average(sets["plain"], **kwargs)
    assert str(e.value) == text


@pytest.mark.parametrize("kwargs, setting, label", [
    ({"remove": "PLANE"}, "SdevRemove", "Plane"), ({"remove": "Robust"}, "SdevRemove", "Robust"),
    ({"level": "Piston"}, "Level", "Piston"), ({"combine": "MEDIAN"}, "Combine", "Median"),
    ({"sdev_type": "Sample"}, "SdevType", "Sample"), ({"phase_res": "SUPER"}, "PhaseRes", "Super"),
])
def test_choices_in_any_case(sets, kwargs, setting, label):
    record = harnix.average(sets["plain"], **kwargs).record
    assert record["settings"][setting] == label
    assert ["-" + setting, label] == [a for a in record["command_line"]
                                      if a in ("-" + setting, label)]


def test_wrong_inputs():
    for inputs, error in (("one.dat", TypeError), (42, TypeError), ([], ValueError)):
        with pytest.raises(error):
            harnix.average(inputs)


@pytest.fixture(scope="module")
def long_list(sets):
    """Enough inputs for a run of several seconds (one file named many times)."""
    return sets["large"] * 600


def test_ctrl_c_stops_the_run_within_a_second_and_writes_nothing(long_list, tmp_path):
    seen, asked = [], []

    def progress(pass_, index, count):
        seen.append(index)
        if not asked:
            asked.append(time.monotonic())
            _thread.interrupt_main()  # as Ctrl-C does

    with pytest.raises(KeyboardInterrupt):
        harnix.average(long_list, progress=progress, threads=1)
    assert time.monotonic() - asked[0] < 1.0
    assert seen[-1] < len(long_list) and list(tmp_path.iterdir()) == []


def test_the_gil_is_released_while_averaging(long_list):
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.001)

    counter = threading.Thread(target=count)
    counter.start()
    start = time.monotonic()
    harnix.average(long_list, threads=1)
    end = time.monotonic()
    stop.set()
    counter.join()
    during = [t for t in ticks if start < t < end]
    # Held throughout, the GIL would let the counter in at most once in each 50 ms wait.
    assert end - start > 0.2 and len(during) > (end - start) * 40


def comparable(record):
    """A record less what differs between the two front ends: times, the command line, file
    names and whether they were written."""
    kept = {k: v for k, v in record.items() if k not in ("started", "ended", "command_line")}
    kept["settings"] = {k: v for k, v in record["settings"].items()
                        if not (k.endswith("Out") or k in ("InputReport", "RunRecord"))}
    kept["outputs"] = [{k: o[k] for k in ("option", "window", "valid_points")}
                       for o in record["outputs"] if o["option"] != "InputReport"]
    return kept


@pytest.mark.parametrize("name, kwargs, options", [CASES[7], CASES[-2], CASES[3], CASES[4]])
def test_the_record_holds_what_the_command_lines_record_holds(sets, tmp_path, name, kwargs,
                                                              options):
    paths = sets[name]
    outputs = ["average", "deviation", "count", "rejected"] if "reject" in kwargs else [
        "average", "deviation", "count"]
    done = command_line(paths, tmp_path, options + ["-InputReport", str(tmp_path / "r.csv"),
                                                    "-RunRecord", str(tmp_path / "cli.json")],
                        outputs)
    assert done.returncode == 0, done.stderr
    r = harnix.average(paths, report=True, **kwargs)
    r.save(record=tmp_path / "py.json", average=tmp_path / "py-average")
    text = (tmp_path / "cli.json").read_bytes()
    cli = json.loads(text)
    assert comparable(r.record) == comparable(cli)
    assert json.loads((tmp_path / "py.json").read_bytes()) == r.record
    # Written as the command line writes its record: the same content, the same bytes.
    assert harnix._core.record_json(cli) == text
    saved = (tmp_path / "py.json").read_bytes()
    assert harnix._core.record_json(json.loads(saved)) == saved
    assert r.record["started"] <= r.record["ended"]
    # The record's command line makes the same run.
    again = subprocess.run([HARNIX, *r.record["command_line"][1:], "-AvgOut",
                            str(tmp_path / "again")], capture_output=True, text=True)
    assert again.returncode == 0, again.stderr
    assert (tmp_path / "again").read_bytes() == (tmp_path / "py-average").read_bytes()


def test_an_undecodable_input_name_is_recorded_as_the_command_line_records_it(sets, tmp_path):
    name = os.path.join(os.fsencode(tmp_path), b"m\xff.dat")
    shutil.copy(sets["plain"][0], name)
    r = harnix.average([os.fsdecode(name)])
    assert r.record["inputs"][0]["name"] == os.fsdecode(name)
    r.save(record=tmp_path / "py.json")
    subprocess.run([os.fsencode(HARNIX), b"-AvgOut", os.fsencode(tmp_path / "a.dat"), b"-RunRecord",
                    os.fsencode(tmp_path / "cli.json"), name], check=True, capture_output=True)
    lines = [[ln for ln in (tmp_path / f).read_bytes().splitlines() if b"m\\ufffd.dat" in ln]
             for f in ("py.json", "cli.json")]
    assert lines[0] and lines[0] == lines[1]


@pytest.mark.parametrize("bad, error", [("itself", ValueError), (object(), TypeError),
                                        (2 ** 70, ValueError)])
def test_a_record_that_cannot_be_written_leaves_no_file(sets, tmp_path, bad, error):
    r = harnix.average(sets["plain"])
    r.record["extra"] = r.record if bad == "itself" else bad
    with pytest.raises(error):
        r.save(record=tmp_path / "run.json")
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("bad", ["deviation", "count"])
def test_saving_stops_at_the_first_map_that_fails(sets, tmp_path, threads, bad):
    r = harnix.average(sets["plain"], remove="plane", threads=threads)
    (tmp_path / "count").write_bytes(b"old")
    names = {n: tmp_path / n for n in ("average", "deviation", "count")}
    names[bad] = tmp_path / "missing" / bad
    with pytest.raises(harnix.HarnixError) as e:
        r.save(**names)
    assert e.value.file == str(names[bad])
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(
        ["average", "count"] + (["deviation"] if bad == "count" else []))
    assert (tmp_path / "count").read_bytes() == b"old"
    r.save(**{n: tmp_path / n for n in names})
    for n in names:
        harnix.write(tmp_path / "one", getattr(r, n))
        assert (tmp_path / n).read_bytes() == (tmp_path / "one").read_bytes()
