#pragma once
// The end of a front end's run: a fatal check's message goes to the error
// stream and becomes status 1, and an output stream that failed (a closed
// pipe, a full disk) fails the run too.
#include <exception>
#include <new>
#include <ostream>

#include "base/error.hpp"
#include "base/exit_status.hpp"
#include "base/format.hpp"

namespace quorel {

template <class Body>
int guarded_status(std::ostream& out, std::ostream& err, const Body& body) {
    int status = exit_run_error;
    try {
        status = body();
    } catch (const QuorelError& error) {
        out.flush();
        err << error.what();
    } catch (const std::bad_alloc&) {
        out.flush();
        err << "\n Error: out of memory \n";
    } catch (const std::exception& error) {
        out.flush();
        err << format("\n Error: %s \n", error.what());
    }
    out.flush();
    err.flush();
    if (!out) status = exit_run_error;
    return status;
}

}  // namespace quorel
