#pragma once
// One execution of each fuzz target, with no dependency on the fuzzing engine:
// the libFuzzer entry points call these, and the test suite replays saved
// inputs through the very same functions.
//
// An expected refusal (a QuorelError, or a run ending with status 1 and its
// message) is an ordinary outcome.  Anything else is a finding: a crash, a
// sanitizer report, an exception other than QuorelError escaping, or a violated
// invariant, which prints what was violated and aborts.
//
// Every execution works inside one private directory per process (created with
// mkdtemp under $TMPDIR or /tmp, removed at exit) and clears it first, so a run
// writes its result files nowhere else and never sees those of another input.
#include <cstddef>
#include <cstdint>
#include <string>

namespace quorel::fuzz {

// What an execution reached, so that the replay test can tell that the seeds
// get past the input checks into the code behind them.
enum class Outcome {
    refused,     // the input was rejected with a message (status 1)
    completed,   // loaded and resampled, or the run ended with status 0
};

// The bytes as a specification file: load_spec_points, then the octave grid of
// every spacing, each checked point by point.
Outcome fuzz_spec_file(const uint8_t* data, size_t size);

// The bytes as the answer stream of the whole dialogue, up to the start of the
// trials, next to a fixed three-point specification file named
// dialogue_spec_name.
Outcome fuzz_dialogue(const uint8_t* data, size_t size);
inline constexpr const char* dialogue_spec_name = "spec.txt";
inline constexpr const char* dialogue_spec_text = "10\t5\n100\t50\n2000\t50\n";

// The bytes as an acceptance file: parsed, and when accepted, its rules
// checked for range and judged on fixed spectra (shares within 0..1, the
// quick verdict equal to the full one).
Outcome fuzz_acceptance(const uint8_t* data, size_t size);

// The bytes as a measured record: parsed in memory with the default options
// and again at a given sample rate, and read from a file, which must give the
// same record or refuse it too.  An accepted record holds at least 2 finite
// samples at a finite rate above zero, and written back one sample per line
// with %.17g it reads to the very same samples.
Outcome fuzz_record(const uint8_t* data, size_t size);

// The bytes as a record file of another format, named record.mat, .wav, .h5
// or .uff: read with the format's default channels and again with every
// channel at a given rate (with the MAT rate variable "fs" and the HDF5 rate
// attribute "sample_rate" where the file has them).  Every record read holds
// at least 2 finite samples at a finite rate above zero from a finite start,
// and is named "record.EXT:channel", each name once.  The universal file is
// parsed in memory too, and must read or be refused alike.
Outcome fuzz_mat(const uint8_t* data, size_t size);
Outcome fuzz_wav(const uint8_t* data, size_t size);
Outcome fuzz_hdf5(const uint8_t* data, size_t size);
Outcome fuzz_uff58(const uint8_t* data, size_t size);

// The bytes mapped to a small but complete run (see tiny_run_case), run to the
// end on one thread, and its files checked.
Outcome fuzz_tiny_run(const uint8_t* data, size_t size);

// The case a tiny-run input stands for: a specification file of 1 to 6 points
// between 10 Hz and 2 kHz spanning at most 4 octaves (occasionally out of
// order, with a zero, or with a lone final number), and answers of valid shape
// within small bounds: other algorithm numbers, edge values of damping ratio
// and Q, 0 to 3 trials, repeated units questions, odd seeds, sample rates from
// just below the limit to 20 times the highest frequency, and histories from
// a little too short up to 1500 samples.  Missing bytes read as zero.
struct TinyRunCase {
    std::string spec_text;   // the content of "spec.txt"
    std::string answers;     // one answer per line
};
TinyRunCase tiny_run_case(const uint8_t* data, size_t size);

}  // namespace quorel::fuzz
