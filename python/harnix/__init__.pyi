import os
from typing import Any, Callable, Iterable, Iterator, Optional, Union

import numpy as np
import numpy.typing as npt

_Path = Union[str, bytes, "os.PathLike[str]"]

__version__: str

class HarnixError(RuntimeError):
    code: str
    file: str
    message: str
    record: Optional[dict[str, Any]]

class Window:
    @property
    def x(self) -> int: ...
    @property
    def y(self) -> int: ...
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    def __iter__(self) -> Iterator[int]: ...

class Measurement:
    @property
    def path(self) -> str: ...
    @property
    def phase(self) -> Optional[npt.NDArray[np.int32]]: ...
    @property
    def valid(self) -> Optional[npt.NDArray[np.bool_]]: ...
    @property
    def heights(self) -> Optional[npt.NDArray[np.float64]]: ...
    @property
    def intensity(self) -> Optional[npt.NDArray[np.uint16]]: ...
    @property
    def attributes(self) -> dict[str, Any]: ...
    @property
    def window(self) -> Window: ...
    @property
    def spacing(self) -> Optional[float]: ...
    @property
    def metres_per_count(self) -> Optional[float]: ...
    @property
    def counts_per_fringe(self) -> int: ...
    def _repr_html_(self) -> str: ...

class Result:
    average: Optional[Measurement]
    deviation: Optional[Measurement]
    count: Optional[Measurement]
    rejected: Optional[Measurement]
    minimum: Optional[Measurement]
    maximum: Optional[Measurement]
    range: Optional[Measurement]
    uncertainty: Optional[Measurement]
    report_csv: Optional[bytes]
    inputs: Optional[list[dict[str, Any]]]
    min_count: int
    record: dict[str, Any]
    paths: list[_Path]
    def worst(self) -> Optional[dict[str, Any]]: ...
    def save(self, *, average: Optional[_Path] = ..., deviation: Optional[_Path] = ...,
             count: Optional[_Path] = ..., rejected: Optional[_Path] = ...,
             minimum: Optional[_Path] = ..., maximum: Optional[_Path] = ...,
             range: Optional[_Path] = ..., uncertainty: Optional[_Path] = ...,
             report: Optional[_Path] = ..., record: Optional[_Path] = ...) -> None: ...
    def _repr_html_(self) -> str: ...

def read(path: _Path) -> Measurement: ...
def info(path: _Path) -> dict[str, Any]: ...
def write(path: _Path, measurement: Measurement) -> None: ...
def level(measurement: Measurement, form: str = ...) -> npt.NDArray[np.float64]: ...
def parameters(measurement: Measurement, level: str = ...) -> dict[str, Any]: ...
def export(path: _Path, measurement: Measurement, *, format: str = ..., level: str = ...,
           counts: bool = ...) -> None: ...
def average(inputs: Iterable[_Path], *, remove: str = ..., min_count: Optional[int] = ...,
            min_percent: Optional[float] = ..., phase_res: Optional[str] = ...,
            reject: Optional[float] = ..., reject_rounds: Optional[int] = ...,
            level: str = ..., combine: str = ..., memory_limit: Optional[float] = ...,
            sdev_type: str = ..., align: str = ..., align_max: Optional[int] = ...,
            outputs: Iterable[str] = ...,
            threads: Optional[int] = ..., report: bool = ...,
            progress: Optional[Callable[[int, int, int], Any]] = ...) -> Result: ...
