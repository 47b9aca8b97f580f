#include "http/files/Descriptor.h"

#include <unistd.h>

namespace vuzozar {

Descriptor::~Descriptor() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        Descriptor old(descriptor_);
        descriptor_ = other.release();
    }
    return *this;
}

int Descriptor::release() {
    int descriptor = descriptor_;
    descriptor_ = -1;
    return descriptor;
}

} // namespace vuzozar
