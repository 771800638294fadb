#pragma once
// The edge between Python and a module's bound classes, safe against
// callers that are hostile and against memory running out. Each extension
// module compiles it into itself, with a pybind11 registry of its own (see
// `qcaps_add_module`), so no class, instance or exception of one module is
// ever seen by the other's code.
//
// A few invariants, each stated and kept in one header:
// - `module.h`: nothing runs in a subinterpreter; a thread can throw before
//   it needs to; no C++ exception leaves an entry.
// - `instances.h`: an instance's storage records the bound class it was made
//   for, each bound class has a layout of its own, and every use of the
//   storage checks that record.
// - `calls.h`: every call is answered by the guard from arguments it owns;
//   pybind11's dispatcher never sees the caller's containers.
// - `convert.h`: an argument's own code runs once per call, and only what
//   it raises that is not "does not convert" reaches the caller.

#include "binding/calls.h"
#include "binding/convert.h"
#include "binding/instances.h"
#include "binding/module.h"
