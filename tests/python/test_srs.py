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
    with pytest.raises(quorel.QuorelError, match="accel: every sample is zero: there is no shock to check"):
        quorel.srs(np.zeros(10), RATE, [100.0])
    # A record of one sign gets both polarities from the free vibration after it.
    positive, negative = quorel.srs(np.ones(10), RATE, [100.0])
    assert positive[0] > 0.0 and negative[0] > 0.0


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


def forced_and_free(accel, f, zeta, model):
    """The response of an lti model to the samples joined by straight lines,
    over the record alone and with one period at rest after it."""
    dt = np.float32(1.0 / RATE)
    steps = len(accel) + int(np.floor(np.float32(1.0 / f) / dt))
    y = np.concatenate([accel, np.zeros(steps - len(accel))])
    _, x, _ = scipy_signal.lsim(model, y, np.arange(steps) * float(dt))
    return x[: len(accel)], x


def test_without_residual_the_srs_is_the_forced_phase_alone():
    # A 1 ms pulse cut 0.5 ms after it: at 100 to 400 Hz the response turns
    # negative only after the record.
    accel = half_sine(RATE, length=1.5e-3)
    frequency = np.array([100.0, 200.0, 400.0, 1000.0])
    zeta = 0.05
    forced_positive, forced_negative = quorel.srs(accel, RATE, frequency, damping=zeta, residual=False)
    positive, negative = quorel.srs(accel, RATE, frequency, damping=zeta)
    for j, f in enumerate(frequency):
        w = 2 * np.pi * f
        oscillator = scipy_signal.lti([2 * zeta * w, w * w], [1.0, 2 * zeta * w, w * w])
        forced, _ = forced_and_free(accel, f, zeta, oscillator)
        assert forced_positive[j] == pytest.approx(max(forced.max(), 0.0), rel=1e-5), f
        assert forced_negative[j] == pytest.approx(-min(forced.min(), 0.0), rel=1e-5, abs=1e-9), f
    assert list(forced_negative[:3]) == [0.0, 0.0, 0.0] and all(negative[:3] > 1.0)
    assert all(positive >= forced_positive) and positive[0] > 1.2 * forced_positive[0]
    # quorel.check's residual=False: the same spectrum, margins -inf where a
    # polarity is never reached.
    result = quorel.check(accel, RATE, ([100.0, 400.0], [10.0, 40.0]), damping=zeta, spacing="1/3",
                          residual=False, acceptance={"srs": "each", "band": [{"low": -60, "high": 60}]})
    again_positive, again_negative = quorel.srs(accel, RATE, result.srs["frequency"], damping=zeta, residual=False)
    assert list(result.srs["positive"]) == list(again_positive)
    assert list(result.srs["negative"]) == list(again_negative)
    assert all(result.srs["margin_negative_db"] == -np.inf) and all(np.isfinite(result.srs["margin_positive_db"]))
    assert result.settings["residual"] is False and result.verdict["pass"] is False


def test_pseudo_velocity_against_an_integration_of_the_relative_displacement():
    # PV = 2 pi f max|z|, z'' + 2 zeta w z' + w^2 z = -a, over the record and
    # one period at rest, from rate / 10^4 to rate / 4 (lsim, samples joined
    # by straight lines as the ramp-invariant recursion takes them).
    t = np.arange(3000) / RATE
    accel = half_sine(RATE) + 5.0 * np.exp(-t / 0.004) * np.sin(2 * np.pi * 3000 * t)
    frequency = np.array([10.0, 100.0, 1000.0, 25000.0])
    zeta = 0.05
    for units, factor in (("english", 386.0), ("metric", 9.81)):
        with pytest.warns(UserWarning, match="above a tenth of its sample rate"):
            pv_positive, pv_negative = quorel.pvss(accel, RATE, frequency, units=units, damping=zeta)
        for j, f in enumerate(frequency):
            w = 2 * np.pi * f
            relative = scipy_signal.lti([-1.0], [1.0, 2 * zeta * w, w * w])
            _, z = forced_and_free(accel, f, zeta, relative)
            assert pv_positive[j] == pytest.approx(-w * factor * z.min(), rel=1e-5), f
            assert pv_negative[j] == pytest.approx(w * factor * z.max(), rel=1e-5), f


def test_start_time_moves_the_peak_time():
    accel = half_sine(RATE)
    spec = ([100.0, 1000.0], [10.0, 100.0])
    at_zero = quorel.check(accel, RATE, spec)
    later = quorel.check(accel, RATE, spec, start_time=2.5)
    assert at_zero.record["peak_time"] == pytest.approx(0.5e-3, abs=0.5 / RATE)
    assert later.record["peak_time"] == pytest.approx(at_zero.record["peak_time"] + 2.5, abs=1e-12)


def test_spectra_are_quorel_check_spectras_numbers(tmp_path):
    accel = half_sine(RATE)
    record = tmp_path / "pulse.txt"
    record.write_text("".join(repr(float(a)) + "\n" for a in accel))
    status, out, err = run_quorel(["check", record, "--sample-rate", "100000", "--frequencies", "50:5000",
                                   "-u", "metric", "--spectra", "--json"])
    assert status == 0, err
    rows = json.loads(out)["records"][0]["srs"]
    frequency = np.array([row["frequency"] for row in rows])
    spectra = quorel.srs(accel, RATE, frequency, spectra=True, units="metric")
    for key in ("relative_displacement", "relative_velocity", "pseudo_velocity", "primary", "residual"):
        assert list(spectra[key]) == [row[key] for row in rows], key
    assert list(spectra["positive"]) == [row["positive"] for row in rows]
    # A 5 Hz oscillator reaches its peak a quarter period (50 ms) after the
    # pulse, past the 30 ms record: its maximum is residual.
    slow = quorel.srs(accel, RATE, [5.0], spectra=True)
    assert slow["residual"][0] > slow["primary"][0]
    assert quorel.srs(accel, RATE, frequency)[0].tolist() == list(spectra["positive"])
