#pragma once

#include <string>

namespace vuzozar {

// The calling thread's entry in the builder's process-wide buffer map, keyed
// by the thread's system identifier: the text written so far by the page or
// element being built on that thread. Created empty on the thread's first
// use and removed when the thread ends, so a long-running server does not
// keep the last page of every connection thread it ever had.
// Elements are written in place: read inside an element's closure, the
// buffer holds everything the thread has written so far, the start tags of
// the open elements included (without their attributes, which are put in
// when each element ends), e.g. "<html><body><ul><li>" and the children
// written so far. Inside an element, page code may change only what
// follows the innermost start tag; an element whose start tag was cut or
// overwritten throws std::logic_error when its closure returns rather than
// put its attributes inside other text.
// The reference stays valid for the calling thread's life and is for that
// thread only. Throws only std::bad_alloc.
std::string& scopesBuffer();

} // namespace vuzozar
