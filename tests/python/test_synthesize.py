"""quorel.synthesize against the command line: the same settings give the same
numbers and, with output_dir, the same files."""
import os
import signal
import subprocess
import sys
import textwrap
import threading
from pathlib import Path

import numpy as np
import pytest

import quorel
from conftest import EXAMPLES, read_csv, read_summary, run_quorel

SPEC = EXAMPLES / "functional.txt"
RULES = EXAMPLES / "acceptance" / "two-tier.toml"
# The functional example's answers, 30 trials, with limits and rules that
# leave two distinct optima among 17 qualifying trials.
CLI_ARGS = ["-a", "kelly-richman", "--spacing", "1/3", "--damping", "0.05", "-n", "30", "-u", "metric", "-s", "7",
            "-r", "20000", "-d", "0.5", "--max-displacement", "12", "--acceptance", RULES, "--quiet"]
KWARGS = dict(algorithm="kelly-richman", spacing="1/3", damping=0.05, trials=30, units="metric", seed=7,
              sample_rate=20000, duration=0.5, max_displacement=12, acceptance=RULES)


@pytest.fixture(scope="module")
def command_line(tmp_path_factory):
    folder = tmp_path_factory.mktemp("cli")
    status, _, err = run_quorel([*CLI_ARGS, "-o", folder, SPEC])
    assert status == 0, err
    return folder


def g9(value):
    return "%.9g" % value


def test_results_are_the_command_lines_bit_for_bit(command_line):
    result = quorel.synthesize(SPEC, **KWARGS)
    summary = read_summary(command_line)
    for key in ("settings", "units", "limits", "acceptance", "bounds", "qualifying_trials", "closest"):
        assert getattr(result, key) == summary[key], key
    assert result.spec_file == summary["spec_file"]
    assert list(result.grid["frequency"]) == [point["frequency"] for point in summary["grid"]]
    assert list(result.grid["spec"]) == [point["spec"] for point in summary["grid"]]
    frequency, spec = quorel.grid(*quorel.read_spec(SPEC), spacing="1/3")
    assert np.array_equal(frequency, result.grid["frequency"]) and np.array_equal(spec, result.grid["spec"])
    for key, column in result.trials.items():
        assert list(column) == [trial[key] for trial in summary["trials"]], key

    for weighting in ("displacement", "acceleration"):
        optimum, expected = result.optimum[weighting], summary["optimum"][weighting]
        for key, value in expected.items():
            assert optimum[key] == (None if key == "files" else value), (weighting, key)
        t = optimum["trial"]
        history = read_csv(command_line / f"history_{t}.csv")
        for column, key in enumerate(("time", "acceleration", "velocity", "displacement")):
            assert [g9(v) for v in optimum[key]] == [row[column] for row in history], (weighting, key)
        srs_lines = (command_line / f"srs_{t}.out").read_text().splitlines()
        assert srs_lines == ["%12.3f \t %12.5e \t %12.5e" % line for line in
                             zip(result.grid["frequency"], optimum["srs_positive"], optimum["srs_negative"])]
        w = optimum["wavelets"]
        assert read_csv(command_line / f"wavelets_{t}.csv") == [
            [str(k), g9(f), str(p), str(n), g9(d), g9(a)] for k, f, p, n, d, a in
            zip(w["index"], w["frequency"], w["polarity"], w["half_sines"], w["delay"], w["amplitude"])]
    assert result.optimum["displacement"]["trial"] != result.optimum["acceleration"]["trial"]


def test_output_dir_gets_exactly_the_command_lines_files(command_line, tmp_path):
    folder = tmp_path / "made" / "here"
    result = quorel.synthesize(str(SPEC), **KWARGS, threads=1, output_dir=folder)
    assert result.output_dir == str(folder)
    assert sorted(os.listdir(folder)) == sorted(os.listdir(command_line))
    for name in os.listdir(folder):
        if name != "summary.json":
            assert (folder / name).read_bytes() == (command_line / name).read_bytes(), name
    mine, theirs = read_summary(folder), read_summary(command_line)
    del mine["elapsed_seconds"], theirs["elapsed_seconds"]
    assert mine == theirs
    assert result.optimum["acceleration"]["files"] == theirs["optimum"]["acceleration"]["files"]


def test_without_output_dir_nothing_is_written(in_tmp):
    quorel.synthesize(SPEC, trials=3, points=4000)
    assert os.listdir(in_tmp) == []


def test_no_qualifying_trial_gives_the_closest_without_raising(tmp_path):
    # With damping the displacement bound holds within a velocity limit only.
    status, _, _ = run_quorel([*CLI_ARGS[:-5], "--max-displacement", "0.5", "--max-velocity", "1", "--quiet", "-o",
                               tmp_path, SPEC])
    assert status == 3
    with pytest.warns(UserWarning, match="no drive of 0.5 sec can keep its peak displacement within 0.5 mm: "
                                         "the least possible is [0-9.]+ mm within 1 m/sec"):
        result = quorel.synthesize(SPEC, **dict(KWARGS, max_displacement=0.5, max_velocity=1, acceptance=None))
    assert result.optimum is None
    assert result.closest == read_summary(tmp_path)["closest"]
    assert result.closest["limit_ratios"]["displacement"] > 1


def test_points_and_rules_given_as_numbers_match_their_files():
    frequency, acceleration = quorel.read_spec(SPEC)
    rules = {"srs": "maximax", "band": [{"low": -1.5, "high": 3.0, "min_share": 0.9}, {"low": -3.0, "high": 6.0}],
             "above_nominal": {"min_share": 0.5}}
    from_files = quorel.synthesize(SPEC, **KWARGS)
    given = quorel.synthesize((frequency, acceleration), **dict(KWARGS, acceptance=rules))
    assert given.spec_file is None
    for key in from_files.trials:
        assert np.array_equal(given.trials[key], from_files.trials[key]), key
    assert given.optimum["acceleration"]["acceptance"] == from_files.optimum["acceleration"]["acceptance"]


def test_progress_comes_in_order_on_the_calling_thread():
    calls = []
    quorel.synthesize(SPEC, trials=6, points=4000, threads=2,
                      progress=lambda done, total: calls.append((done, total, threading.get_ident())))
    assert [(done, total) for done, total, _ in calls] == [(t, 6) for t in range(1, 7)]
    assert {ident for _, _, ident in calls} == {threading.get_ident()}


def test_errors_are_quorel_errors_with_the_command_lines_message(tmp_path):
    bad = tmp_path / "bad.txt"
    bad.write_text("10 1\n20 x2\n")
    for spec, args, kwargs in ((bad, [], {}), (SPEC, ["-d", "0.01"], dict(duration=0.01))):
        status, _, err = run_quorel([*args, "-o", tmp_path / "out", spec])
        assert status == 1
        with pytest.raises(quorel.QuorelError) as raised:
            quorel.synthesize(spec, **kwargs)
        assert isinstance(raised.value, ValueError)
        assert str(raised.value) == err.strip()
    with pytest.raises(quorel.QuorelError, match="trials=0 is out of range: 1 to 2000"):
        quorel.synthesize(SPEC, trials=0)
    # The least sample rate, in the argument's own words.
    with pytest.raises(quorel.QuorelError,
                       match=r"^Error: sample rate is too low: sample_rate=159 is below the minimum of 160 samples/sec "
                             r"\(4 x the top grid frequency, 40 Hz\)$"):
        quorel.synthesize(([10.0, 40.0], [1.0, 1.0]), sample_rate=159)
    with pytest.raises(quorel.QuorelError, match="band"):
        quorel.synthesize(SPEC, acceptance={"band": [{"low": 3, "high": 1}]})


def test_the_optimal_drive_is_the_command_lines(tmp_path):
    spec = tmp_path / "spec.txt"
    spec.write_text("50 5\n100 20\n400 20\n")
    args = ["-n", "10", "--spacing", "1/3", "-u", "metric", "-r", "4000", "-d", "0.1", "--quiet"]
    status, _, err = run_quorel([*args, "--optimize", "--tolerance", "-2:2.5", "-o", tmp_path / "cli", spec])
    assert status == 0, err
    result = quorel.synthesize(spec, trials=10, spacing="1/3", units="metric", sample_rate=4000, duration=0.1,
                               optimize=True, tolerance=(-2, 2.5))
    expected = read_summary(tmp_path / "cli")["optimal"]
    optimal = result.optimal
    for key, value in expected.items():
        if key not in ("files", "solver"):
            assert optimal[key] == value, key
    assert optimal["files"] is None
    history = read_csv(tmp_path / "cli" / "history_optimal.csv")
    for column, key in enumerate(("time", "acceleration", "velocity", "displacement")):
        assert [g9(v) for v in optimal[key]] == [row[column] for row in history], key
    # Its SRS is the SRS of its samples, each polarity within the band.
    positive, negative = quorel.srs(optimal["acceleration"], 4000, result.grid["frequency"], q=10)
    assert np.array_equal(positive, optimal["srs_positive"]) and np.array_equal(negative, optimal["srs_negative"])
    for peaks in (positive, negative):
        margins = 20 * np.log10(peaks / result.grid["spec"])
        assert margins.min() >= -2 - 1e-9 and margins.max() <= 2.5 + 1e-9
    assert optimal["peak_displacement"] <= result.optimum["displacement"]["peak_displacement"]
    assert quorel.synthesize(spec, trials=10, spacing="1/3", units="metric", sample_rate=4000, duration=0.1).optimal is None
    with pytest.raises(quorel.QuorelError, match="need optimize=True"):
        quorel.synthesize(spec, trials=2, minimize="velocity")
    with pytest.raises(quorel.QuorelError, match="--tolerance 3:1"):
        quorel.synthesize(spec, trials=2, optimize=True, tolerance="3:1")


def test_ctrl_c_stops_the_trials_and_leaves_a_closed_trial_log(tmp_path):
    # Many long trials: the run is far from done when the signal comes.
    script = textwrap.dedent(f"""
        import signal, sys, quorel
        signal.signal(signal.SIGINT, signal.default_int_handler)
        def started(done, total):
            print("started", flush=True)
        try:
            quorel.synthesize({str(EXAMPLES / "pyroshock.txt")!r}, trials=2000, points=99999, spacing="1/12",
                              threads=2, output_dir={str(tmp_path)!r}, progress=started)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
        """)
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "started\n"
    child.send_signal(signal.SIGINT)
    out, _ = child.communicate(timeout=30)
    assert out.splitlines()[-1] == "interrupted"
    assert os.listdir(tmp_path) == ["trials.out"]
    assert Path(tmp_path / "trials.out").read_text().endswith("\n Interrupted. \n")
