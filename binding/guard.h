#pragma once
// The edge between Python and a module's bound classes, made safe against
// callers that are hostile and against memory running out. Both extension
// modules compile this header into themselves; they share no object code and
// exchange nothing at run time. pybind11's defaults leave a few ways for a
// Python caller to end the process or get a wrong answer; each guard below
// closes one of them, in terms of pybind11's own registration and dispatch:
//
// - Every function of a bound class runs through `guardedDispatch`, so that
//   nothing the dispatcher throws reaches the interpreter as a C++ exception,
//   no call runs in a subinterpreter, and the message of a call that fits no
//   overload is built without running the arguments' own code.
// - Instances are allocated by `newInstance`, which checks the allocation and
//   the class's bound base; the class's own `__new__` also refuses the old
//   pickle protocols.
// - `construct` builds the native object and hands it to its Python instance
//   in one step that either completes or leaves the instance as it was, and
//   never fills an instance twice.
// - `holdsOne` checks, from the class hierarchy as it is now, that an
//   instance's storage is that of the class asked for.
// - `seal` marks the class immutable once it is registered, so no instance
//   can have its `__class__` swapped for another bound class.
// - `initModule` refuses subinterpreters before pybind11 looks for its state,
//   and a second load of the same file under another name.
//
// Each concern has a header of its own: `module.h` (threads, interpreters,
// exceptions and the module entry), `instances.h` (allocating, filling,
// checking and freeing instances), `calls.h` (dispatch and the mismatch
// message) and `convert.h` (arguments and results).

#include "binding/calls.h"
#include "binding/convert.h"
#include "binding/instances.h"
#include "binding/module.h"
