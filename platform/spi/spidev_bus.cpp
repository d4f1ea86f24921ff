#include "platform/spi/spidev_bus.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qvin {

namespace {
std::string Why(const std::string& device, int error) { return device + ": " + std::strerror(error); }
}  // namespace

std::string SpidevBus::Open(const std::string& device) {
    Close();
    const int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        return error == EACCES ? device + ": no permission (add the user to the spi group, or install the udev rule)" : Why(device, error);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        ::close(fd);
        return device + " is no SPI device";
    }
    const std::uint8_t mode = SPI_MODE_1, bits = 8;
    const std::uint32_t speed = kClockHz;
    if (::ioctl(fd, SPI_IOC_WR_MODE, &mode) < 0 || ::ioctl(fd, SPI_IOC_WR_BITS_PER_WORD, &bits) < 0 ||
        ::ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &speed) < 0) {
        const int error = errno;
        ::close(fd);
        return error == ENOTTY ? device + " is no SPI device" : device + ": the SPI mode cannot be set (" + std::strerror(error) + ")";
    }
    fd_ = fd;
    device_ = device;
    error_.clear();
    return {};
}

bool SpidevBus::Transfer(std::span<const std::uint16_t> out, std::span<std::uint16_t> in, unsigned gapUs) {
    if (fd_ < 0) {
        error_ = "the SPI device is not open";
        return false;
    }
    if (out.empty() || out.size() > kMaxFrames || in.size() != out.size()) {
        error_ = "an exchange carries 1 to " + std::to_string(kMaxFrames) + " frames";
        return false;
    }
    std::vector<std::uint8_t> tx(out.size() * 2), rx(out.size() * 2, 0);
    std::vector<spi_ioc_transfer> frames(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        tx[2 * i] = static_cast<std::uint8_t>(out[i] >> 8);
        tx[2 * i + 1] = static_cast<std::uint8_t>(out[i]);
        spi_ioc_transfer& f = frames[i];
        std::memset(&f, 0, sizeof f);
        f.tx_buf = reinterpret_cast<std::uintptr_t>(&tx[2 * i]);
        f.rx_buf = reinterpret_cast<std::uintptr_t>(&rx[2 * i]);
        f.len = 2;
        f.speed_hz = kClockHz;
        f.bits_per_word = 8;
        f.delay_usecs = static_cast<std::uint16_t>(gapUs);
        // Chip select released after every frame but the last (which releases it anyway).
        f.cs_change = i + 1 < out.size() ? 1 : 0;
    }
    int n;
    do {
        n = ::ioctl(fd_, SPI_IOC_MESSAGE(static_cast<unsigned>(frames.size())), frames.data());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        const int error = errno;
        error_ = error == ENODEV || error == ESHUTDOWN ? device_ + ": unplugged" : Why(device_, error);
        return false;
    }
    if (static_cast<std::size_t>(n) != tx.size()) {
        error_ = device_ + ": " + std::to_string(n) + " of " + std::to_string(tx.size()) + " bytes exchanged";
        return false;
    }
    for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint16_t>(rx[2 * i] << 8 | rx[2 * i + 1]);
    error_.clear();
    return true;
}

void SpidevBus::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    device_.clear();
}

}  // namespace qvin
