#pragma once
// quorel check: judges measured acceleration records against a specification
// (or computes their SRS on a frequency range), by the synthesis's SRS and its
// acceptance rules.
//
//   quorel check RECORD... [OPTIONS]
//
// Every record, the specification and the rules are read and validated, and the
// output folder created, proved writable and locked, before anything is
// computed or written.  Exit status: 0 every record checked (a FAIL is a
// result), 3 with --require-pass and a FAIL, 1 a bad record, specification,
// rules file or output, 2 a wrong command line.
#include <CLI/CLI.hpp>

#include <iosfwd>
#include <string>
#include <vector>

#include "app/check_records.hpp"

namespace quorel {

struct CheckCommand {
    std::vector<std::string> records;
    std::string spec_file;
    std::string frequencies;   // LOW:HIGH
    std::string spacing = "1/6";
    std::string algorithm = "smallwood";
    std::string q, damping;
    std::string units = "english";
    std::string column;
    std::string sample_rate;
    bool decimal_comma = false;
    std::string pretrigger;
    std::string acceptance;
    std::string output_dir;
    std::string threads;
    bool remove_mean = false;
    bool no_residual = false;
    bool spectra = false;
    bool require_pass = false;
    bool plot = false;
    bool pvss = false;
    bool json = false;
    RecordCommand input;    // channels, scale, time unit, rates of MAT and HDF5 records
    bool timings = false;   // hidden: wall times of reading and computing on standard error, for benchmarks
};

class OptionWords;

// The `check` subcommand of `app`, its options read into `c`, what each
// takes told in `words`.
CLI::App* add_check_command(CLI::App& app, CheckCommand& c, OptionWords& words);

struct StopRequest;

// Runs a parsed check command; returns the exit status.  Tables and the JSON
// document go to `out`, warnings and errors to `err`.  With `stop`, a signal
// it routes ends the run as a failed one (exit_run_error, no temporary file
// left); the caller turns that into the signal's status.
int run_check(const CheckCommand& c, std::ostream& out, std::ostream& err, StopRequest* stop = nullptr);

}  // namespace quorel
