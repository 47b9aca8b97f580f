#pragma once

#include <functional>

namespace zivra::app {

// A two-way connection between a control and a value that lives elsewhere (mostly a property of
// the engine): the control reads through get and writes through set. The control keeps the
// pair and calls it on the main thread; what the functions capture must outlive the control.
template <typename T> struct Binding {
    std::function<T()> get;
    std::function<void(T)> set;
};

} // namespace zivra::app
