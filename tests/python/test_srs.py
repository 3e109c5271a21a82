"""quorel.srs, pvss and check against quorel check, and the SRS of a half-sine
pulse against an independent integration of the oscillator."""
import json

import numpy as np
import pytest
from scipy import signal as scipy_signal

import quorel
from conftest import EXAMPLES, run_quorel

RATE = 100000.0


def half_sine(rate, peak=100.0, width=1e-3, length=0.03, offset=0.0):
    t = np.arange(int(round(length * rate))) / rate
    return np.where(t < width, peak * np.sin(np.pi * t / width), 0.0) + offset


def test_srs_pvss_and_check_are_quorel_checks_numbers(tmp_path):
    # A pulse on an offset: the mean is taken off on both sides.
    accel = half_sine(RATE, offset=0.25)
    record = tmp_path / "pulse.txt"
    record.write_text("".join(repr(float(a)) + "\n" for a in accel))
    spec = EXAMPLES / "functional.txt"
    rules = EXAMPLES / "acceptance" / "each-polarity.toml"
    status, out, err = run_quorel(["check", record, "--sample-rate", "100000", "--spec", spec, "--spacing", "1/12",
                                   "-q", "12", "-u", "metric", "--remove-mean", "--acceptance", rules, "--json"])
    assert status == 0, err
    expected = json.loads(out)["records"][0]
    result = quorel.check(accel, RATE, spec, acceptance=rules, q=12, spacing="1/12", units="metric",
                          remove_mean=True, name=str(record))
    assert result.record == expected["record"]
    assert result.settings == expected["settings"] and result.units == expected["units"]
    assert result.verdict == expected["verdict"]
    for key, column in result.srs.items():
        assert list(column) == [line[key] for line in expected["srs"]], key

    frequency = result.srs["frequency"]
    positive, negative = quorel.srs(accel - np.mean(accel), RATE, frequency, q=12, threads=1)
    assert list(positive) == list(result.srs["positive"]) and list(negative) == list(result.srs["negative"])
    pv_positive, pv_negative = quorel.pvss(accel - np.mean(accel), RATE, frequency, units="metric", q=12)
    assert list(np.maximum(pv_positive, pv_negative)) == list(result.srs["pseudo_velocity"])


def test_half_sine_srs_against_an_integration_of_the_oscillator():
    # lsim drives the oscillator with the samples joined by straight lines, the
    # input the ramp-invariant (Smallwood) filters assume; then one period at rest.
    accel = half_sine(RATE)
    frequency = 20.0 * 2.0 ** (np.arange(0, 27) / 3.0)   # 20 Hz to 8 kHz
    zeta = 0.05
    positive, negative = quorel.srs(accel, RATE, frequency, damping=zeta)
    dt = np.float32(1.0 / RATE)
    for f, pos, neg in zip(frequency.astype(np.float32).astype(float), positive, negative):
        w = 2 * np.pi * f
        oscillator = scipy_signal.lti([2 * zeta * w, w * w], [1.0, 2 * zeta * w, w * w])
        steps = len(accel) + int(np.floor(np.float32(1.0 / f) / dt))
        y = np.concatenate([accel, np.zeros(steps - len(accel))])
        _, x, _ = scipy_signal.lsim(oscillator, y, np.arange(steps) * float(dt))
        assert pos == pytest.approx(max(x.max(), 0.0), rel=1e-5), f
        assert neg == pytest.approx(-min(x.min(), 0.0), rel=1e-5), f


def test_bad_records_and_grids_raise_quorel_errors():
    accel = half_sine(RATE)
    with pytest.raises(quorel.QuorelError, match="above a quarter of its sample rate"):
        quorel.srs(accel, RATE, [100.0, 30000.0])
    with pytest.raises(quorel.QuorelError, match="not above 0 and above the one before"):
        quorel.srs(accel, RATE, [200.0, 100.0])
    with pytest.warns(UserWarning, match="above a tenth of its sample rate"):
        quorel.srs(accel, RATE, [100.0, 12000.0])
    with pytest.raises(quorel.QuorelError, match="never crosses zero"):
        quorel.srs(np.ones(10), RATE, [100.0])


def test_samples_that_are_no_record_are_refused_in_the_command_lines_words(tmp_path):
    # The command line's words for a value that is not finite.
    record = tmp_path / "rec.txt"
    record.write_text("1.0\n-inf\n2.0\n")
    status, _, err = run_quorel(["check", record, "--sample-rate", "1000", "--frequencies", "10:100"])
    assert status == 1 and "line 2, field 1: '-inf' is not a finite number" in err
    spec = ([10.0, 100.0], [1.0, 1.0])
    calls = (lambda a: quorel.srs(a, RATE, [100.0]), lambda a: quorel.pvss(a, RATE, [100.0]),
             lambda a: quorel.check(a, RATE, spec, name="accel"))
    for bad in (np.nan, np.inf, -np.inf):
        accel = half_sine(RATE)
        accel[101] = bad
        for call in calls:
            with pytest.raises(quorel.QuorelError, match=r"^Error: accel: sample 101 is not a finite number$"):
                call(accel)
    for call in calls:
        with pytest.raises(quorel.QuorelError, match=r"^Error: accel holds 0 samples: a record needs at least 2$"):
            call(np.array([]))


def test_an_srs_failure_tells_the_reason_without_the_kernels_lines():
    for accel in (np.ones(10), np.full(100, 1e30)):
        try:
            quorel.srs(accel, RATE, [100.0])
        except quorel.QuorelError as error:
            assert "Error SRS" not in str(error) and "xmax" not in str(error) and "f[j]" not in str(error)


def test_an_acceptance_dicts_fault_names_the_key_not_a_line():
    accel = half_sine(RATE)
    spec = ([100.0, 1000.0], [10.0, 10.0])
    for rules, message in (({"band": [{"low": -3, "hihg": 3}]}, "band[1].hihg: unknown key"),
                           ({"band": [{"low": 3, "high": -3}]}, "band[1].high: must be above low"),
                           ({"above_nominal": {"min_share": 2}}, "above_nominal.min_share: must be above 0")):
        with pytest.raises(quorel.QuorelError) as raised:
            quorel.check(accel, RATE, spec, acceptance=rules)
        assert str(raised.value).startswith("Error: the acceptance dict: " + message), str(raised.value)
        assert " line " not in str(raised.value)
