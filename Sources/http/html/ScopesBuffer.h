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
// written so far. Page code must not shorten it inside an element.
// The reference stays valid for the calling thread's life and is for that
// thread only. Throws only std::bad_alloc.
std::string& scopesBuffer();

} // namespace vuzozar
