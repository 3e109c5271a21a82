"""Type hints of the quorel module: shock response spectra and their synthesis
by wavelets, on numpy arrays.  See docs/python.md and help(quorel.<name>)."""
import os
from typing import Any, Callable, Dict, List, Literal, Optional, Sequence, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

__version__: str

PathLike = Union[str, "os.PathLike[str]"]
ArrayLike = npt.ArrayLike
Float64Array = npt.NDArray[np.float64]
# A path to an acceptance file, or a dict with its keys.
Acceptance = Union[PathLike, Dict[str, Any]]

class QuorelError(ValueError):
    """An error of quorel: the message is the one the command line prints."""

class SynthesisResult:
    settings: Dict[str, Any]
    units: Dict[str, str]
    grid: Dict[str, Float64Array]
    trials: Dict[str, Optional[np.ndarray]]
    limits: Dict[str, Optional[float]]
    acceptance: Optional[Dict[str, Any]]
    bounds: Optional[Dict[str, Any]]
    qualifying_trials: int
    optimum: Optional[Dict[str, Dict[str, Any]]]
    closest: Optional[Dict[str, Any]]
    optimal: Optional[Dict[str, Any]]
    spec_file: Optional[str]
    output_dir: Optional[str]

class CheckResult:
    record: Dict[str, Any]
    settings: Dict[str, Any]
    units: Dict[str, str]
    srs: Dict[str, Optional[Float64Array]]
    verdict: Dict[str, Any]

class Record:
    samples: Float64Array
    sample_rate: float
    start_time: float
    name: str
    file: str
    channel: str
    format: str
    scale: Optional[float]
    def __len__(self) -> int: ...

def read_record(
    path: PathLike,
    *,
    channel: Union[None, int, str, Sequence[Union[int, str]]] = None,
    sample_rate: Optional[float] = None,
    scale: Optional[float] = None,
    column: Union[None, int, str] = None,
    rate_variable: Optional[str] = None,
    rate_attribute: Optional[str] = None,
    time_unit: str = "s",
    decimal_comma: bool = False,
) -> List[Record]: ...
@overload
def srs(
    accel: ArrayLike,
    sample_rate: float,
    frequencies: ArrayLike,
    *,
    q: Optional[float] = 10,
    damping: Optional[float] = None,
    algorithm: str = "smallwood",
    residual: bool = True,
    spectra: Literal[False] = False,
    units: str = "english",
    threads: int = 0,
) -> Tuple[Float64Array, Float64Array]: ...
@overload
def srs(
    accel: ArrayLike,
    sample_rate: float,
    frequencies: ArrayLike,
    *,
    q: Optional[float] = 10,
    damping: Optional[float] = None,
    algorithm: str = "smallwood",
    residual: bool = True,
    spectra: Literal[True],
    units: str = "english",
    threads: int = 0,
) -> Dict[str, Float64Array]: ...
def pvss(
    accel: ArrayLike,
    sample_rate: float,
    frequencies: ArrayLike,
    *,
    units: str = "english",
    q: Optional[float] = 10,
    damping: Optional[float] = None,
    algorithm: str = "smallwood",
    residual: bool = True,
    threads: int = 0,
) -> Tuple[Float64Array, Float64Array]: ...
def check(
    accel: Union[ArrayLike, Record, Sequence[Record]],
    sample_rate: Optional[float] = None,
    spec: Union[None, PathLike, Tuple[ArrayLike, ArrayLike]] = None,
    *,
    acceptance: Optional[Acceptance] = None,
    q: Optional[float] = 10,
    damping: Optional[float] = None,
    algorithm: str = "smallwood",
    spacing: str = "1/6",
    units: str = "english",
    residual: bool = True,
    trim: Optional[Tuple[Optional[float], Optional[float]]] = None,
    remove_mean: bool = False,
    pretrigger: Optional[float] = None,
    detrend: bool = False,
    highpass: Optional[float] = None,
    lowpass: Optional[float] = None,
    filter_order: int = 4,
    events: Union[None, float, str] = None,
    window: Optional[Tuple[float, float]] = None,
    start_time: Optional[float] = None,
    name: Optional[str] = None,
    threads: int = 0,
) -> Union[CheckResult, List[CheckResult]]: ...
def read_spec(path: PathLike) -> Tuple[Float64Array, Float64Array]: ...
def grid(frequency: ArrayLike, acceleration: ArrayLike, spacing: str = "1/6") -> Tuple[Float64Array, Float64Array]: ...
def synthesize(
    spec: Union[PathLike, Tuple[ArrayLike, ArrayLike]],
    *,
    trials: int = 200,
    seed: int = 1,
    q: Optional[float] = 10,
    damping: Optional[float] = None,
    spacing: str = "1/6",
    units: str = "english",
    algorithm: str = "smallwood",
    sample_rate: Optional[float] = None,
    points: Optional[int] = None,
    duration: Optional[float] = None,
    max_acceleration: Optional[float] = None,
    max_velocity: Optional[float] = None,
    max_displacement: Optional[float] = None,
    max_force: Optional[float] = None,
    moving_mass: Optional[float] = None,
    acceptance: Optional[Acceptance] = None,
    threads: int = 0,
    output_dir: Optional[PathLike] = None,
    progress: Optional[Callable[[int, int], Any]] = None,
    optimize: bool = False,
    minimize: str = "displacement",
    tolerance: Optional[Union[str, Tuple[float, float]]] = None,
) -> SynthesisResult: ...
def export(
    run_dir: PathLike,
    *,
    trial: Optional[int] = None,
    optimal: bool = False,
    rate: float,
    points: Optional[int] = None,
    frame: Optional[str] = None,
    format: Optional[str] = None,
    pad_before: float = 0.0,
    pad_after: float = 0.0,
    scale: Optional[float] = None,
    output: PathLike,
) -> Dict[str, Any]: ...
