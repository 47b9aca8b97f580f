#define _GNU_SOURCE
#include "MirrorBuffer/C/MirrorBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if UINTPTR_MAX == UINT64_MAX
_Static_assert(sizeof(MirrorBuffer) == 32, "MirrorBuffer is 32 bytes on 64-bit targets");
#endif

static MirrorBufferMapping systemMapping = {mmap, munmap};
static MirrorBufferMapping currentMapping = {mmap, munmap};

void MirrorBufferSetMapping(const MirrorBufferMapping* mapping) {
    currentMapping = mapping ? *mapping : systemMapping;
}

/* "file:line: operation: reason" on standard output: a line by contract, not a
 * log message (see CONTRIBUTING). */
static void reportFailure(int line, const char* operation, int error) {
    const char* file = strrchr(__FILE__, '/');
    printf("%s:%d: %s: %s\n", file ? file + 1 : __FILE__, line, operation, strerror(error));
    fflush(stdout);
}

/* One attempt: anonymous shared memory of `length` bytes mapped at base and at
 * base + length of a fresh 2 * length reservation. Returns the base, or null
 * with the failed operation and its error, having released what it made. */
static void* mapMirrored(uint32_t length, const char** operation, int* error, int* line) {
    const size_t size = length;
    void* base = MAP_FAILED;
    int fd = memfd_create("MirrorBuffer", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, (off_t)size) != 0) {
        *operation = "Buffer allocation", *error = errno, *line = __LINE__;
        goto fail;
    }
    base = currentMapping.map(NULL, 2 * size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        *operation = "Buffer allocation", *error = errno, *line = __LINE__;
        goto fail;
    }
    for (int half = 0; half < 2; ++half) {
        char* target = (char*)base + half * size;
        void* mapped =
            currentMapping.map(target, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0);
        if (mapped != target) {
            *operation = "Remap buffer memory", *error = errno, *line = __LINE__;
            goto fail;
        }
    }
    close(fd);
    return base;

fail:
    if (base != MAP_FAILED) {
        currentMapping.unmap(base, 2 * size);
    }
    if (fd >= 0) {
        close(fd);
    }
    return NULL;
}

bool _MirrorBufferInit(MirrorBuffer* buffer, uint32_t length, size_t size) {
    assert(length > 0);
    if (size != sizeof(MirrorBuffer)) {
        fprintf(stderr, "MirrorBuffer: Header version mismatch. Check for old versions of "
                        "MirrorBuffer in your project\n");
        abort();
    }
    const uint32_t page = (uint32_t)sysconf(_SC_PAGESIZE);
    for (int retries = 3;; --retries) {
        buffer->length = (uint32_t)((length + page - 1) & ~(page - 1));
        const char* operation = NULL;
        int error = 0;
        int line = 0;
        void* base = mapMirrored(buffer->length, &operation, &error, &line);
        if (base) {
            buffer->buffer = base;
            __atomic_store_n(&buffer->fillCount, 0, __ATOMIC_SEQ_CST);
            buffer->tail = buffer->head = 0;
            buffer->atomic = true;
            return true;
        }
        if (retries == 0) {
            reportFailure(line, operation, error);
            return false;
        }
    }
}

void MirrorBufferCleanup(MirrorBuffer* buffer) {
    if (buffer->buffer) {
        currentMapping.unmap(buffer->buffer, 2 * (size_t)buffer->length);
    }
    memset(buffer, 0, sizeof *buffer);
}

void MirrorBufferClear(MirrorBuffer* buffer) {
    const uint32_t stored = MirrorBufferFillCount(buffer);
    if (stored > 0 && buffer->buffer) {
        MirrorBufferConsume(buffer, stored);
    }
}
