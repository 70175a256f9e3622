#pragma once
// Bit rates the terminal interface has no Bxxx name for (14400, 56000, 128000, 256000, 31250,
// any other) go to the driver as a number. This lives apart because the kernel's own terminal
// header, which has that interface, cannot share a translation unit with the C library's.

#include <cstdint>

#include "platform/posix/Kernel.h"
#include "platform/posix/LineConfig.h"

namespace platform::posix {

// Sets the whole line (flags and control characters of `flags`) with `baudRate` as a number in
// both directions, reads it back and returns 0, EINVAL when the driver holds another rate or
// dropped part of the character format (checked when `checkFormat`), or the errno of the
// driver's refusal.
int ApplyLineWithRate(const TKernel& k, int fd, const TTermiosFlags& flags, uint32_t baudRate,
                      bool checkFormat);

// The output rate the driver holds, whatever way it was set.
int ReadBaudRate(int fd, uint32_t* baudRate);

// Whether a line at `held` bit/s still reads characters meant for `wanted`.
bool RateCloseEnough(uint32_t held, uint32_t wanted);

// The whole line as the driver holds it, a rate it has no Bxxx name for included, to be put
// back as it was.
struct TSavedLine {
  alignas(8) uint8_t bytes[64];
};
int SaveLine(const TKernel& k, int fd, TSavedLine& saved);
int RestoreLine(const TKernel& k, int fd, const TSavedLine& saved);

}  // namespace platform::posix
