// The board: the flash hardware and its driver, the processor, and whether the boot image
// is asked for.
#pragma once

#include <cstdint>

// "/dev/mtd0" reports erase blocks of 256 KiB.
bool hasLargeEraseBlocks();
// The answer of "/dev/flash" to its capability request, masked to bit value 16.
uint32_t flashCapabilities();
// The processor class code (0 to 4) of a processor version register value, given the
// flash capability bits.
int processorClassOf(uint32_t pvr, uint32_t capabilities);
// The processor class code of this board; 0 on a processor that is not PowerPC.
int processorClass();
// The environment variable "bootimage" is set (an empty value counts).
bool bootImageRequested();
// The lowest system version that "/dev/flash" accepts; 0 when the device can't be asked.
uint32_t lowestSystemVersion();
