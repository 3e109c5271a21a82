#pragma once
// Failed checks of the synthesis, explained in the user's terms.
#include <string>

#include "base/error.hpp"
#include "base/run_settings.hpp"
#include "specification/srs_spec.hpp"
#include "srs/srs.hpp"
#include "wavelet/wavelet_set.hpp"

namespace quorel {

// One line, "Error: ..." and a line end, for a failed synthesis check
// (error.check() not none; empty otherwise): the wavelet's grid frequency and
// the specification there.  For the amplitude and scale checks also the SRS
// the history reached there and the history's peak acceleration, why the SRS
// could not follow the specification, and what to change.
//   amplitudes  the trial's row (the largest names the rms check's wavelet)
//   reached     the SRS of `history`, null before the trial's first SRS
//   history     the last history synthesized
std::string explain_synthesis_failure(const QuorelError& error, const SrsSpec& spec, const RunSettings& settings,
                                      const float* amplitudes, const SrsResult* reached, const TimeHistory& history);

}  // namespace quorel
