#pragma once
// Finding the USB adapters, describing them and the bulk transfer every adapter command
// travels in. Adapters are devices "Ezusb-0" to "Ezusb-3"; each operation opens the
// device and closes it before it returns.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "device/program.h"

namespace qvin {

// nullptr when the device cannot be opened.
std::unique_ptr<UsbDevice> OpenUsbDriver(Program& p, const std::string& name);

// The causes that kept adapters from being used, one a line, for a message or an error.
std::string UsbFailuresText(const std::vector<std::string>& failures);

// Why the last search left no adapter to use: each one that could not be had with its
// cause, or none there at all, or some there that did not answer.
std::string NoUsableAdapter(const Program& p);

// Scans the four devices and makes the first usable adapter the current one.
void FindUsbBoards(Program& p);
void ScanUsbBoards(Program& p);
// Completes the descriptor texts, firmware revision and speed of a present entry; on
// failure says "Error getting Board Info" and marks the entry not present.
void GetBoardInfo(Program& p, UsbDevice* h, UsbBoardInfo& entry);
// The text of a string descriptor, or "None".
std::string GetStringDescriptor(Program& p, UsbDevice* h, int index);
// A pipe's maximum packet size, 0 when it cannot be read.
int GetPipeMaxPacket(Program& p, UsbDevice* h, int pipe);
// 1 on success, 0 on failure.
int GetPipeInfo(Program& p, UsbDevice* h, std::span<std::uint8_t> buffer);
// One bulk transfer of `count` bytes: 1 on success, 0 on failure, -2 without a device;
// `count` receives the number of bytes transferred.
int UsbBulkTransfer(Program& p, UsbDevice* h, int pipe, std::span<std::uint8_t> buffer, std::int32_t& count);

}  // namespace qvin
