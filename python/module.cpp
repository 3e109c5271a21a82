// The Python module: the engine's functions on numpy arrays.  A front end
// only: it turns Python arguments into the engine's requests and the engine's
// results into Python objects; every number comes from the engine.  Each
// topic binds its own functions (srs_bindings.cpp, check_bindings.cpp,
// synthesis_bindings.cpp) over the conversions of arguments.hpp.
#include <pybind11/pybind11.h>

#include <exception>

#include "arguments.hpp"
#include "base/error.hpp"
#include "base/version.hpp"
#include "bindings.hpp"

namespace py = pybind11;

PYBIND11_MODULE(quorel, m) {
    using namespace quorel;
    using namespace quorel::python;
    m.doc() = R"(quorel: shock response spectra and their synthesis by wavelets, on numpy arrays.

The functions run the engine of the quorel programs: the same settings give
the same numbers as the command line, bit for bit.  Accelerations are in the
unit of the specification (G, or m/sec^2 with units="si"), frequencies in Hz,
times in seconds.  Every error raises QuorelError (a ValueError) with the
message the command line prints.)";
    m.attr("__version__") = quorel_version;

    static py::exception<QuorelError> error(m, "QuorelError", PyExc_ValueError);
    error.doc() = "An error of quorel: the message is the one the command line prints.";
    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const QuorelError& e) {
            PyErr_SetString(error.ptr(), trimmed(e.what()).c_str());
        }
    });

    bind_synthesis(m);
    bind_check(m);
    bind_srs(m);
    bind_export(m);
}
