#pragma once

#include "http/HttpResponse.h"
#include "http/files/OpenedFile.h"

namespace vuzozar {

// The body writer of a shared file: sends the whole file with the server's
// writer, adding nothing before or after it, then closes it, whatever the
// outcome; a failed send is dropped (the client sees a short body and the
// connection ends, as after any body of unknown length). The file is closed
// also when the writer is never run.
//
// Takes the file over. The writer runs once, on the connection's thread,
// and never throws.
HttpBodyWriterFunction fileBodyWriter(OpenedFile file);

// 200 "OK" with `headers` and the file's body writer.
// Takes the file over; throws only std::bad_alloc.
HttpResponse fileResponse(OpenedFile file, HttpHeaders headers = {});

} // namespace vuzozar
