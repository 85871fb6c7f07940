// The board: the flash erase block size, the flash driver's capabilities and its lowest
// system version, the processor class and whether the boot image is asked for.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/board.h"
#include "platform/device_paths.h"

namespace {

const unsigned long MemGetInfoRequest = 0x40204D01;  // MEMGETINFO of the MTD interface
const unsigned long FlashCapabilityRequest = 0x2000462B;
const uint32_t LargeEraseBlock = 0x40000;
const uint32_t CapabilityBit = 16;

// The MTD interface's mtd_info_user, filled by the driver in the machine's own order.
struct MtdInfo {
    uint8_t type;
    uint32_t flags;
    uint32_t size;
    uint32_t erasesize;
    uint32_t writesize;
    uint32_t oobsize;
    uint64_t padding;
};
static_assert(sizeof(MtdInfo) == 32, "the request number encodes a 32-byte argument");

// The flash driver's request for the lowest bootable system version. The driver reads
// the two selector fields and fills value, all in the machine's own byte order.
constexpr unsigned long LowestVersionRequest = 0xC0044626;
struct LowestVersionQuery {
    uint16_t selector = 4;
    uint16_t item = 37;
    uint32_t value = 0;
};
static_assert(sizeof(LowestVersionQuery) == 8, "the driver expects 8 bytes");

#if defined(__powerpc__)
uint32_t readProcessorVersion() {
    uint32_t pvr;
    asm volatile("mfpvr %0" : "=r"(pvr));
    return pvr;
}
#endif

}  // namespace

bool hasLargeEraseBlocks() {
    int fd = open(device::MtdDevice, O_RDONLY);
    if (fd < 0)
        return false;
    MtdInfo info{};
    int result = ioctl(fd, MemGetInfoRequest, &info);
    close(fd);
    return result >= 0 && info.erasesize == LargeEraseBlock;
}

uint32_t flashCapabilities() {
    int fd = open(device::FlashDevice, O_RDONLY);
    if (fd < 0)
        return 0;
    int result = ioctl(fd, FlashCapabilityRequest, 0);
    close(fd);
    // A failed request (-1) would otherwise read as every bit set.
    if (result < 0)
        return 0;
    return uint32_t(result) & CapabilityBit;
}

int processorClassOf(uint32_t pvr, uint32_t capabilities) {
    uint32_t family = pvr & 0xFFFFFF00;
    if (family == 0x80211000 || family == 0x80212100)
        return capabilities != 0 ? 2 : 4;
    uint32_t version = (pvr >> 16) & 0xFF;
    if (version == 0x20 || version == 0x21)
        return 2;
    if (version >= 0x83 && version <= 0x85)
        return 1;
    if ((pvr >> 16) == 0x1302)
        return 3;
    return 0;
}

int processorClass() {
#if defined(__powerpc__)
    uint32_t pvr = readProcessorVersion();
    uint32_t family = pvr & 0xFFFFFF00;
    // The flash driver is asked only for the family whose class depends on it.
    bool asksDriver = family == 0x80211000 || family == 0x80212100;
    return processorClassOf(pvr, asksDriver ? flashCapabilities() : 0);
#else
    return 0;
#endif
}

bool bootImageRequested() {
    return getenv("bootimage") != nullptr;
}

uint32_t lowestSystemVersion() {
    int device = open(device::FlashDevice, O_RDWR);
    if (device < 0)
        return 0;
    LowestVersionQuery query;
    int answer = ioctl(device, LowestVersionRequest, &query);
    close(device);
    return answer < 0 ? 0 : query.value;
}
