// The machine's USB buses through libusb-1.0.
#include "usb_board.h"

#include <libusb.h>

#include <algorithm>
#include <mutex>

namespace usbboard {

namespace {

// One libusb context for the process, made on first use; open endpoints keep
// it alive past the end of the bus.
class Context
{
public:
    explicit Context(libusb_context *context) : context_(context) {}
    ~Context() { libusb_exit(context_); }
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;
    libusb_context *get() const { return context_; }

private:
    libusb_context *context_;
};

std::string errorText(const char *what, int code)
{
    return std::string(what) + ": " + libusb_error_name(code);
}

class LibusbEndpoint : public BulkEndpoint
{
public:
    LibusbEndpoint(std::shared_ptr<Context> context, libusb_device_handle *handle, int interfaceNumber,
                   uint8_t outAddress, uint8_t inAddress, int inPacketSize)
        : context_(std::move(context)), handle_(handle), interface_(interfaceNumber), out_(outAddress),
          in_(inAddress), inPacketSize_(std::max(inPacketSize, 1))
    {
    }
    ~LibusbEndpoint() override
    {
        libusb_release_interface(handle_, interface_);
        libusb_close(handle_);
    }

    int write(const uint8_t *data, int length, int timeoutMs) override
    {
        int transferred = 0;
        // libusb takes a non-const buffer for both directions; an OUT transfer only reads it.
        const int rc = libusb_bulk_transfer(handle_, out_, const_cast<uint8_t *>(data), length, &transferred,
                                            timeoutMs);
        if (rc != 0 && transferred == 0)
            return rc == LIBUSB_ERROR_TIMEOUT ? 0 : -1;
        return transferred;
    }

    int read(uint8_t *data, int length, int timeoutMs) override
    {
        if (length <= 0)
            return 0;
        // A bulk IN request shorter than the device's packet overflows when the
        // device sends a whole packet: ask for whole packets, hand out `length`.
        const int asked = (length + inPacketSize_ - 1) / inPacketSize_ * inPacketSize_;
        buffer_.resize(size_t(asked));
        int received = 0;
        const int rc = libusb_bulk_transfer(handle_, in_, buffer_.data(), asked, &received, timeoutMs);
        if (rc != 0 && rc != LIBUSB_ERROR_TIMEOUT && received == 0)
            return -1;
        received = std::min(received, length);
        std::copy_n(buffer_.begin(), received, data);
        return received;
    }

private:
    std::shared_ptr<Context> context_;
    libusb_device_handle *handle_;
    int interface_;
    uint8_t out_;
    uint8_t in_;
    int inPacketSize_;
    std::vector<uint8_t> buffer_;
};

class LibusbBus : public Bus
{
public:
    std::vector<DeviceInfo> devices() override
    {
        std::vector<DeviceInfo> found;
        const std::shared_ptr<Context> context = this->context();
        if (!context)
            return found;
        libusb_device **list = nullptr;
        const ssize_t count = libusb_get_device_list(context->get(), &list);
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(list[i], &descriptor) != 0)
                continue;
            DeviceInfo info;
            info.vendorId = descriptor.idVendor;
            info.productId = descriptor.idProduct;
            info.path = pathOf(list[i]);
            found.push_back(std::move(info));
        }
        if (count >= 0)
            libusb_free_device_list(list, 1);
        return found;
    }

    std::unique_ptr<BulkEndpoint> openBulk(uint16_t vendorId, uint16_t productId, uint8_t outAddress,
                                           uint8_t inAddress, std::string *error) override
    {
        std::string ignored;
        std::string &why = error ? *error : ignored;
        const std::shared_ptr<Context> context = this->context();
        if (!context) {
            why = "libusb could not start";
            return nullptr;
        }
        libusb_device **list = nullptr;
        const ssize_t count = libusb_get_device_list(context->get(), &list);
        if (count < 0) {
            why = errorText("listing devices", int(count));
            return nullptr;
        }
        libusb_device *device = nullptr;
        for (ssize_t i = 0; i < count && !device; ++i) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(list[i], &descriptor) == 0 && descriptor.idVendor == vendorId
                && descriptor.idProduct == productId)
                device = list[i];
        }
        std::unique_ptr<BulkEndpoint> endpoint;
        if (!device)
            why = "no such device";
        else
            endpoint = open(context, device, outAddress, inAddress, why);
        libusb_free_device_list(list, 1);
        return endpoint;
    }

private:
    std::shared_ptr<Context> context()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!context_ && !failed_) {
            libusb_context *raw = nullptr;
            if (libusb_init(&raw) == 0)
                context_ = std::make_shared<Context>(raw);
            else
                failed_ = true;  // no USB access here (a container, no usbfs): no devices
        }
        return context_;
    }

    static std::string pathOf(libusb_device *device)
    {
        std::string path = std::to_string(libusb_get_bus_number(device));
        uint8_t ports[8];
        const int depth = libusb_get_port_numbers(device, ports, int(sizeof ports));
        for (int i = 0; i < depth; ++i)
            path += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
        return path;
    }

    static std::unique_ptr<BulkEndpoint> open(const std::shared_ptr<Context> &context, libusb_device *device,
                                              uint8_t outAddress, uint8_t inAddress, std::string &why)
    {
        libusb_config_descriptor *config = nullptr;
        int rc = libusb_get_active_config_descriptor(device, &config);
        if (rc != 0) {
            why = errorText("reading the configuration", rc);
            return nullptr;
        }
        // The first alternate setting that has endpoints at all must carry both.
        const libusb_interface_descriptor *setting = nullptr;
        for (int i = 0; i < config->bNumInterfaces && !setting; ++i) {
            const libusb_interface &interface = config->interface[i];
            for (int a = 0; a < interface.num_altsetting && !setting; ++a) {
                if (interface.altsetting[a].bNumEndpoints > 0)
                    setting = &interface.altsetting[a];
            }
        }
        bool hasOut = false;
        int inPacketSize = 0;
        for (int e = 0; setting && e < setting->bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor &endpoint = setting->endpoint[e];
            if ((endpoint.bmAttributes & 0x03) != LIBUSB_TRANSFER_TYPE_BULK)
                continue;
            if (endpoint.bEndpointAddress == outAddress)
                hasOut = true;
            else if (endpoint.bEndpointAddress == inAddress)
                inPacketSize = endpoint.wMaxPacketSize & 0x7FF;  // the bits above are transactions per microframe
        }
        const int interfaceNumber = setting ? setting->bInterfaceNumber : -1;
        const int alternate = setting ? setting->bAlternateSetting : 0;
        libusb_free_config_descriptor(config);
        if (!hasOut || inPacketSize == 0) {
            why = "the device has no bulk endpoint pair there";
            return nullptr;
        }

        libusb_device_handle *handle = nullptr;
        rc = libusb_open(device, &handle);
        if (rc != 0) {
            why = errorText("opening the device", rc);
            return nullptr;
        }
        libusb_set_auto_detach_kernel_driver(handle, 1);  // unsupported on some systems: then nothing is bound
        rc = libusb_claim_interface(handle, interfaceNumber);
        if (rc == 0 && alternate != 0) {
            rc = libusb_set_interface_alt_setting(handle, interfaceNumber, alternate);
            if (rc != 0)
                libusb_release_interface(handle, interfaceNumber);
        }
        if (rc != 0) {
            why = errorText("claiming the interface", rc);
            libusb_close(handle);
            return nullptr;
        }
        return std::make_unique<LibusbEndpoint>(context, handle, interfaceNumber, outAddress, inAddress,
                                                inPacketSize);
    }

    std::mutex mutex_;
    std::shared_ptr<Context> context_;
    bool failed_ = false;
};

} // namespace

Bus &systemBus()
{
    static LibusbBus bus;
    return bus;
}

} // namespace usbboard
