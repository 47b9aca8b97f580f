#pragma once

#include "http/HttpResponse.h"

#include <string>

namespace vuzozar {

// Collects what a body writer function writes.
class RecordingWriter : public vuzozar::HttpResponseBodyWriter {
public:
    void write(const vuzozar::File&) override { ++files; }
    void write(std::span<const uint8_t> bytes) override {
        ++writes;
        text.append(bytes.begin(), bytes.end());
    }

    std::string text;
    int writes = 0;
    int files = 0;
};

// The bytes a response's content writes.
inline std::string writtenBy(const vuzozar::HttpContent& content) {
    RecordingWriter writer;
    if (content.write) {
        content.write(writer);
    }
    return writer.text;
}

} // namespace vuzozar
