#ifndef MIRRORBUFFER_H
#define MIRRORBUFFER_H

/*
 * A single-producer, single-consumer byte ring whose storage is mapped twice,
 * back to back: any run of up to `length` bytes starting inside the ring is
 * contiguous in memory, so blocks are copied and processed with one pointer
 * and never split at the wrap-around point.
 *
 * `head` is written only by the producer, `tail` only by the consumer;
 * `fillCount` is the one shared word and is only touched atomically
 * (sequentially consistent). The produce and consume paths never allocate,
 * lock or make a system call.
 *
 * The record owns its mapping: the owner calls Init and Cleanup while neither
 * side runs, and Clear only while the producer is stopped. Read and write
 * pointers point into the mapping and stay valid until the next Consume or
 * Produce. C: nothing throws.
 */

#include <sys/types.h>

#include <assert.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
    void* buffer;      /* base of the mirrored region; null while nothing is mapped */
    uint32_t length;   /* bytes of one copy of the storage, a whole number of pages */
    uint32_t tail;     /* read offset, consumer only */
    uint32_t head;     /* write offset, producer only */
    int32_t fillCount; /* bytes stored; atomic access only */
    bool atomic;
} MirrorBuffer;

/*
 * Maps `length` bytes (raised to whole pages) twice, back to back. `size` is
 * the caller's sizeof(MirrorBuffer): a caller built against another layout of
 * the record stops the process. Returns false, after reporting the failed
 * operation on standard output, when the mapping fails four times in a row.
 */
bool _MirrorBufferInit(MirrorBuffer* buffer, uint32_t length, size_t size);
#define MirrorBufferInit(buffer, length) _MirrorBufferInit(buffer, length, sizeof(MirrorBuffer))

/* Releases the mapping and zeroes the record. */
void MirrorBufferCleanup(MirrorBuffer* buffer);

/* Discards everything stored. Only while the producer is stopped. */
void MirrorBufferClear(MirrorBuffer* buffer);

static inline uint32_t MirrorBufferFillCount(const MirrorBuffer* buffer) {
    return (uint32_t)__atomic_load_n(&buffer->fillCount, __ATOMIC_SEQ_CST);
}

/* Where the next stored byte is, and how many bytes are stored; null when
 * nothing is stored. */
static inline void* MirrorBufferGetReadPointer(const MirrorBuffer* buffer,
                                               uint32_t* availableBytes) {
    *availableBytes = MirrorBufferFillCount(buffer);
    if (*availableBytes == 0 || !buffer->buffer) {
        return NULL;
    }
    return (char*)buffer->buffer + buffer->tail;
}

static inline void MirrorBufferConsume(MirrorBuffer* buffer, uint32_t amount) {
    assert(MirrorBufferFillCount(buffer) >= amount);
    buffer->tail = (buffer->tail + amount) % buffer->length;
    __atomic_sub_fetch(&buffer->fillCount, (int32_t)amount, __ATOMIC_SEQ_CST);
}

/* Where the next byte can be written, and how many bytes fit; null when there
 * is no room or no storage. */
static inline void* MirrorBufferGetWritePointer(const MirrorBuffer* buffer,
                                                uint32_t* availableBytes) {
    *availableBytes = buffer->length - MirrorBufferFillCount(buffer);
    if (*availableBytes == 0 || !buffer->buffer) {
        return NULL;
    }
    return (char*)buffer->buffer + buffer->head;
}

static inline void MirrorBufferProduce(MirrorBuffer* buffer, uint32_t amount) {
    buffer->head = (buffer->head + amount) % buffer->length;
    __atomic_add_fetch(&buffer->fillCount, (int32_t)amount, __ATOMIC_SEQ_CST);
    assert(MirrorBufferFillCount(buffer) <= buffer->length);
}

/*
 * The mapping layer: the two calls through which the storage is mapped.
 * Tests replace them to make mappings fail; null restores the system's.
 * Process-wide and unguarded: set it while no ring is being mapped.
 */
typedef struct {
    void* (*map)(void* address, size_t length, int protection, int flags, int fd, off_t offset);
    int (*unmap)(void* address, size_t length);
} MirrorBufferMapping;

void MirrorBufferSetMapping(const MirrorBufferMapping* mapping);

#ifdef __cplusplus
}
#endif

#endif
