"""quorel.read_record on every format against the CSV twin of the examples,
quorel.check of its records, conditioned, against quorel check, and
quorel.export's files against quorel export's."""
import json
import os
import subprocess

import numpy as np
import pytest

import quorel
from conftest import EXAMPLES, PROGRAM, run_quorel

TWIN = EXAMPLES / "measured_shock.csv"
FORMATS = ["measured_shock.mat", "measured_shock_v73.mat", "measured_shock.wav", "measured_shock.h5",
           "measured_shock.uff"]


def test_every_format_reads_as_its_csv_twin():
    (twin,) = quorel.read_record(TWIN)
    assert twin.name == str(TWIN) and twin.format == "text" and len(twin) == 6000
    # The CSV's own numbers, read by numpy.
    expected = np.loadtxt(TWIN, delimiter=",", skiprows=4)[:, 1]
    assert np.array_equal(twin.samples, expected)
    for name in FORMATS:
        (record,) = quorel.read_record(EXAMPLES / name, rate_variable="fs", rate_attribute="sample_rate")
        assert np.array_equal(record.samples, expected), name
        assert record.sample_rate == 20000.0 and record.start_time == 0.0, name
        assert record.name == f"{EXAMPLES / name}:{record.channel}", name


def test_channels_scale_and_refusals(tmp_path):
    table = tmp_path / "t.csv"
    table.write_text("time,x,y\n0,1,10\n0.001,2,20\n0.002,3,30\n")
    records = quorel.read_record(table, channel="all", scale=-2)
    assert [r.channel for r in records] == ["x", "y"]
    assert list(records[1].samples) == [-20.0, -40.0, -60.0] and records[1].scale == -2
    assert records[0].sample_rate == pytest.approx(1000.0)
    assert [r.channel for r in quorel.read_record(table, channel=[3, "x"])] == ["y", "x"]
    with pytest.raises(quorel.QuorelError, match="has no variable 'nope'"):
        quorel.read_record(EXAMPLES / "measured_shock.mat", channel="nope", sample_rate=1000)
    with pytest.raises(quorel.QuorelError, match="is named as text"):
        wav = tmp_path / "w.csv"
        wav.write_bytes((EXAMPLES / "measured_shock.wav").read_bytes())
        quorel.read_record(wav)


def test_check_takes_records_with_the_command_lines_conditioning(tmp_path):
    mat = EXAMPLES / "measured_shock.mat"
    spec = EXAMPLES / "functional.txt"
    options = ["--trim", "0.01:0.29", "--pretrigger", "0.03", "--detrend", "--highpass", "2", "--lowpass", "5000",
               "--filter-order", "3"]
    status, out, err = run_quorel(["check", mat, "--rate-variable", "fs", "--spec", spec, "--json", *options])
    assert status == 0, err
    expected = json.loads(out)["records"][0]
    records = quorel.read_record(mat, rate_variable="fs")
    result = quorel.check(records[0], spec=spec, trim=(0.01, 0.29), pretrigger=0.03, detrend=True, highpass=2,
                          lowpass=5000, filter_order=3)
    assert result.record == expected["record"]
    assert result.settings == expected["settings"]
    assert [s["step"] for s in result.settings["conditioning"]] == ["trim", "pretrigger", "detrend", "highpass",
                                                                    "lowpass"]
    assert list(result.srs["positive"]) == [line["positive"] for line in expected["srs"]]

    # Events: a list, one result per shock.
    shocks = quorel.check(records, spec=spec, events="50%", window=(0.01, 0.02))
    assert isinstance(shocks, list) and shocks[0].record["file"] == records[0].name + "#1"
    with pytest.raises(quorel.QuorelError, match="sample_rate, start_time and name come with the records"):
        quorel.check(records[0], 1000.0, spec)


def test_decimal_comma_reads_as_the_command_line_does(tmp_path):
    table = tmp_path / "comma.csv"
    table.write_text("time;accel\n0,000;1,5\n0,001;-2,25\n0,002;0,5\n")
    (record,) = quorel.read_record(table, decimal_comma=True)
    assert list(record.samples) == [1.5, -2.25, 0.5] and record.sample_rate == pytest.approx(1000.0)
    with pytest.raises(quorel.QuorelError, match="--decimal-comma"):
        quorel.read_record(table)


def test_a_record_name_of_any_bytes_reads_as_the_json_document_writes_it(tmp_path):
    # A file name that is not UTF-8: the results name it as the command line's
    # JSON document does, each bad sequence one U+FFFD (Python's "replace").
    name = os.fsencode(tmp_path) + b"/shock\xff\xe2\x82.txt"
    with open(name, "w", encoding="ascii") as file:
        file.write("".join(f"{np.sin(k / 5.0)!r}\n" for k in range(400)))
    spec = ([10.0, 1000.0], [1.0, 1.0])
    (record,) = quorel.read_record(name, sample_rate=10000)
    result = quorel.check(record, spec=spec)
    assert result.record["file"] == name.decode("utf-8", "replace")
    assert result.record["file"].endswith("shock\ufffd\ufffd.txt")
    done = subprocess.run([str(PROGRAM), "check", name, "--sample-rate", "10000", "--frequencies", "10:1000",
                           "--json"], capture_output=True, timeout=600)
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout.decode("utf-8"))["records"][0]["record"]["file"] == result.record["file"]
def test_export_writes_the_command_lines_drive(tmp_path):
    run = tmp_path / "run"
    status, _, err = run_quorel(["-n", "3", "-r", "200000", "--quiet", "-o", run, EXAMPLES / "functional.txt"])
    assert status == 0, err
    status, out, err = run_quorel(["export", run, "--rate", "51200", "--pad-before", "0.01", "-o", tmp_path / "cli.csv"])
    assert status == 0 and "largest difference from srs_" in out, err
    result = quorel.export(run, rate=51200, pad_before=0.01, output=tmp_path / "drive.h5")
    assert result["format"] == "hdf5" and result["zeros_before"] == 512
    # The same check as the command line's, but for the file's name and format on the first line.
    assert abs(result["max_difference_db"]) <= 0.1
    assert result["report"].split("\n")[2:] == out.split("\n")[2:]
    (record,) = quorel.read_record(tmp_path / "drive.h5", rate_attribute="sample_rate")
    expected = np.loadtxt(tmp_path / "cli.csv", delimiter=",", skiprows=1)[:, 1].astype(np.float32)
    assert record.sample_rate == 51200.0 and np.array_equal(record.samples, expected)
    # A missing trial names the drives the run holds, and nothing is written.
    with pytest.raises(quorel.QuorelError, match="holds no trial 999 to export: it holds trial"):
        quorel.export(run, trial=999, rate=51200, output=tmp_path / "none.csv")
    with pytest.raises(quorel.QuorelError, match="points 10 is too few"):
        quorel.export(run, rate=51200, points=10, output=tmp_path / "none.csv")
    assert not (tmp_path / "none.csv").exists()
    with pytest.warns(UserWarning, match="samples per cycle there"):
        quorel.export(run, rate=8000, output=tmp_path / "coarse.csv")
