#pragma once

#include "http/CaseError.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vuzozar {

// A failed file or path call, carrying the errno value at the failure. What
// every throwing call below throws (besides std::bad_alloc).
class FileError : public CaseError {
public:
    explicit FileError(int32_t error);
    int32_t error() const { return error_; }

private:
    int32_t error_;
};

// A thin wrapper over a C stream. Destroying it does not close the stream;
// only close() does. Whoever opened it owns the stream; use one File on one
// thread at a time. read(), write() and currentWorkingDirectory() throw
// FileError; close() and seek() throw nothing.
class File {
public:
    explicit File(FILE* pointer) : pointer_(pointer) {}

    FILE* pointer() const { return pointer_; }

    void close();
    bool seek(long offset);

    // Reads up to `bytes.size()` bytes into `bytes`; returns how many were
    // read. The array keeps its size. A short read at end of file is no error.
    size_t read(std::vector<uint8_t>& bytes);

    void write(const std::vector<uint8_t>& bytes);

    static std::string currentWorkingDirectory();

private:
    FILE* pointer_;
};

// Open a stream the caller owns (and must close()); throw FileError when
// fopen fails. Any thread.
File openFileForMode(const std::string& path, const std::string& mode);
File openForReading(const std::string& path);
File openNewForWriting(const std::string& path);
File openForWritingAndReading(const std::string& path);

// Path queries: a missing path is no error, every other failure is (FileError).
// Any thread; results are copies.
bool exists(const std::string& path);
bool directory(const std::string& path);

// The entry names of a directory in the order the system yields them, "."
// and ".." included; names that are not valid UTF-8 are skipped.
std::vector<std::string> files(const std::string& path);
// The same for a directory opened for reading; takes the descriptor over and
// closes it, also when it throws.
std::vector<std::string> files(int directoryDescriptor);

} // namespace vuzozar
