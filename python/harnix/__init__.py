"""Harnix: averages repeated surface measurements stored as Planoryx data files.

    import harnix
    m = harnix.read("run1.dat")               # phase counts, heights in metres, attributes
    r = harnix.average(paths, remove="plane", reject=3.0, report=True)
    r.average.heights, r.deviation.heights    # numpy arrays, NaN where invalid
    r.inputs                                  # one row per input, as the report's CSV
    r.save(average="avg.dat")                 # the bytes harnix -AvgOut writes
    harnix.average(paths, combine="median", outputs=["range"]).range

Every failure raises HarnixError, which carries the error code's name (`code`), the file
concerned (`file`), the command line's text (`message`) and, from average, the record of the
run that failed (`record`, else None).
"""

from __future__ import annotations

import csv
import io
import os
import tempfile
from typing import Any, Callable, Iterable, Optional

from . import _core
from ._core import HarnixError, Measurement, Window, info, read, write, level, parameters
from ._core import export as _export
from ._display import measurement_html, measurement_repr, result_html

__all__ = ["HarnixError", "Measurement", "Window", "Result", "read", "info", "write", "average",
           "level", "parameters", "export", "__version__"]
__version__ = _core.__version__

Measurement.__repr__ = measurement_repr
Measurement._repr_html_ = measurement_html


def export(path: "os.PathLike[str] | str", measurement: Measurement, *, format: str = "x3p",
           level: str = "none", counts: bool = False) -> None:
    """Writes `measurement` as an X3P archive (format="x3p") or a GSF file ("gsf").

    `level` takes a form off first (none, piston, plane, sphere, cylinder, robust); heights are
    in metres, or in phase counts with counts=True. The file appears whole or not at all.
    """
    _export(path, measurement, format=format, level=level, counts=counts)


def _report_value(name: str, text: str) -> Any:
    if name == "file":
        return text
    if name == "outlier":
        return None if text == "" else text == "yes"
    if text == "":
        return None
    if name in ("index", "valid_pixels", "rejected_pixels", "compared_pixels", "level_left_out",
                "shift_x_px", "shift_y_px"):
        return int(text)
    return float(text)


def _write_whole(path: "os.PathLike[str] | str", data: bytes) -> None:
    """Writes `data` under a temporary name beside `path`, then renames it over `path`."""
    folder = os.path.dirname(os.fspath(path)) or "."
    fd, temp = tempfile.mkstemp(dir=folder, prefix=".harnix-")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.replace(temp, path)
    except BaseException:
        try:
            os.unlink(temp)
        except OSError:
            pass
        raise


_EXTRA_OUTPUTS = ("minimum", "maximum", "range", "uncertainty")


class Result:
    """The results of one run of harnix.average.

    average, deviation, count, rejected: Measurement (None when not formed: `rejected` needs
    reject). minimum, maximum, range, uncertainty: Measurement when average(outputs=...) named
    them, else None. Their `phase` holds counts (the count and rejection maps as whole numbers,
    the others in phase counts) and their `attributes` are those of the files harnix writes.
    inputs: one dict per input with the report's columns (index, file, valid_pixels,
    rejected_pixels, compared_pixels, mean_diff_m, tilt_x, tilt_y, rms_diff_m, outlier, and
    with level or align the report's columns of each input's level and shift), or None without
    report=True. report_csv: the report's bytes. record: the run's record as a dict, the
    content of harnix -RunRecord's JSON (program, version, command_line, started, ended,
    result, settings, output_phase_res, inputs with their sizes, times and figures, outputs
    with their windows and valid points; results kept in memory have no name). Its
    command_line is the harnix command of the same run, output options aside: "harnix", the
    options given whose values differ from the defaults, then the inputs.
    """

    def __init__(self, parts: dict, paths: list) -> None:
        self.average: Optional[Measurement] = parts["average"]
        self.deviation: Optional[Measurement] = parts["deviation"]
        self.count: Optional[Measurement] = parts["count"]
        self.rejected: Optional[Measurement] = parts["rejected"]
        self.minimum: Optional[Measurement] = parts["minimum"]
        self.maximum: Optional[Measurement] = parts["maximum"]
        self.range: Optional[Measurement] = parts["range"]
        self.uncertainty: Optional[Measurement] = parts["uncertainty"]
        self.report_csv: Optional[bytes] = parts["report"]
        self.min_count: int = parts["min_count"]
        self.record: dict = parts["record"]
        self.paths = paths
        self.inputs: Optional[list] = None
        if self.report_csv is not None:
            rows = csv.DictReader(io.StringIO(self.report_csv.decode("utf-8", "replace"),
                                              newline=""))
            self.inputs = [{k: _report_value(k, v) for k, v in row.items()} for row in rows]

    def worst(self) -> Optional[dict]:
        """The compared input farthest from the average (largest rms_diff_m), or None."""
        rows = [r for r in (self.inputs or []) if r["rms_diff_m"] is not None]
        return max(rows, key=lambda r: r["rms_diff_m"]) if rows else None

    def save(self, *, average=None, deviation=None, count=None, rejected=None, minimum=None,
             maximum=None, range=None, uncertainty=None, report=None, record=None) -> None:
        """Writes the files named, each with exactly the bytes the command line writes
        (-AvgOut, -SdevOut, -CountOut, -RejectOut, -MinOut, -MaxOut, -RangeOut, -UncertOut,
        -InputReport) for the same inputs and options, and `record` the run's record as JSON,
        written as -RunRecord writes it (the same text for the same content); each appears
        whole or not at all."""
        if report is not None and self.report_csv is None:
            raise ValueError("the run formed no report (average(..., report=True))")
        maps = []
        for name, path in (("average", average), ("deviation", deviation), ("count", count),
                           ("rejected", rejected), ("minimum", minimum), ("maximum", maximum),
                           ("range", range), ("uncertainty", uncertainty)):
            if path is None:
                continue
            m = getattr(self, name)
            if m is None:
                hint = " (average(..., outputs=[...]))" if name in _EXTRA_OUTPUTS else ""
                raise ValueError(f"the run formed no {name} map{hint}")
            maps.append((path, m))
        for path, m in maps:
            write(path, m)
        if report is not None:
            _write_whole(report, self.report_csv)
        if record is not None:
            _write_whole(record, _core.record_json(self.record))

    def __repr__(self) -> str:
        a = self.average
        w = a.window if a is not None else None
        where = f" on {w.width}x{w.height} at ({w.x}, {w.y})" if w is not None else ""
        return f"<harnix.Result of {len(self.paths)} inputs{where}>"

    _repr_html_ = result_html


def average(inputs: Iterable["os.PathLike[str] | str"], *, remove: str = "none",
            min_count: Optional[int] = None, min_percent: Optional[float] = None,
            phase_res: Optional[str] = None, reject: Optional[float] = None,
            reject_rounds: Optional[int] = None, level: str = "none", combine: str = "mean",
            memory_limit: Optional[float] = None, sdev_type: str = "population",
            align: str = "none", align_max: Optional[int] = None, outputs: Iterable[str] = (), threads: Optional[int] = None, report: bool = False,
            progress: Optional[Callable[[int, int, int], Any]] = None) -> Result:
    """Averages the measurements `inputs` (any iterable of paths, a generator included, taken
    once) pixel by pixel, as harnix does.

    remove: the form taken off each input before its deviation is summed (-SdevRemove: none,
    piston, plane, sphere, cylinder, robust). min_count or min_percent: valid inputs a pixel
    needs (-MinValidCnt, -MinValidPct; default every input). phase_res: normal, high or super
    (-PhaseRes; default the first input's). reject: K of the outlier test (-Reject), with
    reject_rounds at most (-RejectIter). level: none, piston or plane, fitted to each input's
    difference from the stack and taken off first (-Level). combine: mean or median, what the
    average holds (-Combine); memory_limit: MiB the median's bands may hold (-MemoryLimit).
    sdev_type: population or sample, the deviation's divisor n or n - 1 (-SdevType). align:
    none or shift, each input moved by its whole-pixel offset from the first (-Align), searched
    up to align_max pixels each way (-AlignMax; default 16). outputs:
    the maps to form besides the average, deviation, count and rejection maps, any of minimum,
    maximum, range and uncertainty (-MinOut, -MaxOut, -RangeOut, -UncertOut). Choices may be
    spelt in any case, as on the command line. threads: threads that add the inputs (-Threads;
    default every core). report: form the per-input report (-InputReport). progress: called on
    the caller's thread as progress(pass, input, inputs) while the run goes on.

    The GIL is released while the files are read and averaged; Ctrl-C stops the run within
    about a second with KeyboardInterrupt. Nothing is written: Result.save writes files. A run
    that fails, or is refused because an input cannot be reached, raises HarnixError with the
    run's record in its `record`, as harnix -RunRecord records a failed or refused run.
    """
    if isinstance(inputs, (str, bytes, os.PathLike)):
        raise TypeError("inputs must be an iterable of paths, not a single path")
    try:
        paths = list(inputs)
    except TypeError:
        raise TypeError(f"inputs must be an iterable of paths, not {type(inputs).__name__}") \
            from None
    parts = _core.average(paths, remove=remove, min_count=min_count, min_percent=min_percent,
                          phase_res=phase_res, reject=reject, reject_rounds=reject_rounds,
                          level=level, combine=combine, memory_limit=memory_limit,
                          sdev_type=sdev_type, align=align, align_max=align_max,
                          outputs=outputs, threads=threads, report=report, progress=progress)
    return Result(parts, paths)
