#ifndef LINEIO_WRITE_ALL_H_
#define LINEIO_WRITE_ALL_H_

#include <cstddef>
#include <cstdio>

// Writes |size| bytes to |out|, writing the rest again after a short write.
// A write that makes no progress ends the loop, so a full disk cannot make it
// spin. Returns the number of bytes written: fewer than |size| is a failure,
// with errno as the stream left it.
size_t WriteAll(const void* data, size_t size, FILE* out);

// The same on a descriptor. Returns 0, or -1 with errno set.
int WriteAllFd(int fd, const void* data, size_t size);

#endif  // LINEIO_WRITE_ALL_H_
