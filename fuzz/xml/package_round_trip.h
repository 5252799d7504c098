// The check the XML fuzzer runs on each input, also replayed by the unit tests: bytes fed to
// the package parser in pieces never crash it, complete and build what a builder fed the same
// pieces without keeping any back does, and a package it completes writes, reads back and writes
// again to the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kqcp_fuzz {

// The first byte chooses the piece sizes; the rest is the stream. Empty when all is well,
// otherwise what went wrong.
std::string CheckPackageRoundTrip(const std::uint8_t* data, std::size_t size);

}  // namespace kqcp_fuzz
