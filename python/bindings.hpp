#pragma once
// The topics of the module, each adding its functions and classes to it.
#include <pybind11/pybind11.h>

namespace quorel::python {

// quorel.srs, quorel.pvss.
void bind_srs(pybind11::module_& m);
// quorel.Record, quorel.read_record, quorel.CheckResult, quorel.check.
void bind_check(pybind11::module_& m);
// quorel.SynthesisResult, quorel.read_spec, quorel.grid, quorel.synthesize.
void bind_synthesis(pybind11::module_& m);
// quorel.export.
void bind_export(pybind11::module_& m);

}  // namespace quorel::python
