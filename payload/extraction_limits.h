// How large an installer and its entries may be for the extractor (a 32-bit
// Windows program) to unpack them. mkpayload is to refuse to write more.
//
// Measured under Wine 8.0 (32-bit process under qemu-user), with installers of
// one sparse stored entry or one compressed entry of zeros (binary literals,
// 4 KiB dictionary, matches of 518 bytes at distance 1); see the end-to-end
// tests in tests/e2e/test_large_entries.py.
#pragma once

#include <cstdint>

namespace payload {

// The own file is read through a C stream with 32-bit (long) offsets, so its
// size must fit a long. Measured: an installer of 2^31 - 1 bytes (one stored
// entry of 2147440036 bytes) unpacks byte-exact; at 2^31 bytes ftell fails and
// the run ends with status 8. Not a memory limit, so there is no margin: stored
// entries and the stub copy are copied in 64 KiB blocks, and the peak memory of
// a run does not depend on their size.
constexpr uint64_t LARGEST_INSTALLER_SIZE = 0x7FFFFFFF;

// A compressed entry is decoded whole into memory: its S stored bytes and a
// U-byte output buffer (one contiguous block) must be allocated together.
//
// Large-address-aware stub (as built): U = 2147414016 (2 GiB - 68 KiB)
// unpacks, 2 GiB - 64 KiB does not ("Memory Allocation Error"), the heap's
// ceiling for one block. That is how far a 4 GiB address space (64-bit
// Windows) takes it; the value below keeps a quarter in reserve.
constexpr uint32_t LARGEST_COMPRESSED_UNPACKED_SIZE_LARGE_ADDRESS_AWARE = 1536u << 20;

// Without large-address-aware, or on 32-bit Windows (2 GiB address space):
// U = 570425344 (544 MiB) unpacks, 545 MiB cannot be allocated; the free
// address space is split by the loaded DLLs and the largest hole is what
// counts, which varies between systems. The value below keeps about 30% in
// reserve; it is the limit for an installer that must run on any Windows.
constexpr uint32_t LARGEST_COMPRESSED_UNPACKED_SIZE = 384u << 20;

static_assert(LARGEST_COMPRESSED_UNPACKED_SIZE <= LARGEST_COMPRESSED_UNPACKED_SIZE_LARGE_ADDRESS_AWARE);

}  // namespace payload
