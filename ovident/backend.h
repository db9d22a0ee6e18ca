// What each operating system supplies: the raw facts behind the exports.
// One implementation per system, win32/backend.cpp and posix/backend.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "identity.h"

namespace ov::ident {

// The caption and flags of every failure box of the library.
void ShowFailure(const std::string& text);

// The adapters in the system's order. On failure an empty list, after a
// message box when report is set.
std::vector<Adapter> ListAdapters(bool report);

// The first fixed disk's serial number text, without surrounding blanks and
// at most 47 bytes; false when there is no way to read one.
bool ReadDiskSerial(std::string& text);

// The system volume's serial number; false when it cannot be read.
bool ReadVolumeSerial(uint32_t& serial);

// ARP for ip (network byte order) with a bound of about one second;
// true with mac filled when some host answered.
bool ResolveRemoteMac(uint32_t ip, uint8_t mac[6]);

}  // namespace ov::ident
