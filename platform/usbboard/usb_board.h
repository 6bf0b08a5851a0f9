// USB bulk transfers to a device board: finding a board by its vendor and
// product ids and moving bytes over one pair of bulk endpoints. Our stand-in
// for the vendor's USB interface library; libusb-1.0 does the work on the
// machine's buses, and a fake bus (fake_board.h) stands in for tests.
//
// What a caller may rely on: an endpoint is usable from any one thread at a
// time, every transfer ends within its time-out, and closing an endpoint
// (destroying it) releases the interface it claimed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace usbboard {

struct DeviceInfo {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string name;  // product string; empty when the device can't be asked
    std::string path;  // where it hangs: bus number, then the port chain ("1-4.2")
};

// The bulk OUT and bulk IN endpoint of one claimed interface of an open device.
class BulkEndpoint
{
public:
    virtual ~BulkEndpoint() = default;
    // Sends `length` bytes within `timeoutMs`. Returns the number of bytes the
    // device took: fewer than `length` after a time-out or an error part-way,
    // -1 when an error stopped the transfer before any byte went out.
    virtual int write(const uint8_t *data, int length, int timeoutMs) = 0;
    // Receives at most `length` bytes within `timeoutMs`: the number received,
    // 0 when nothing came in time, -1 on an error (the device has gone).
    virtual int read(uint8_t *data, int length, int timeoutMs) = 0;
};

class Bus
{
public:
    virtual ~Bus() = default;
    // Every device on the bus, in the order the bus lists them.
    virtual std::vector<DeviceInfo> devices() = 0;
    // Opens the first device with these ids and claims the interface of its
    // first alternate setting that has endpoints, when that setting has the
    // bulk endpoints `outAddress` (OUT) and `inAddress` (IN). Null otherwise,
    // with the reason in `error` when given.
    virtual std::unique_ptr<BulkEndpoint> openBulk(uint16_t vendorId, uint16_t productId, uint8_t outAddress,
                                                   uint8_t inAddress, std::string *error) = 0;
};

// The machine's USB buses, through libusb. Safe to call from any thread; a
// machine without USB access has no devices.
Bus &systemBus();

} // namespace usbboard
