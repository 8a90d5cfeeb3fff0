#pragma once
// A sent message written out field by field from its byte layout, so that a
// list of expected messages shows every field at its offset and stays
// readable:
//   CONNECT_B3_RESP #199 8:0x00010101 12:0 14:00
// Integers are read little-endian at their offsets (16-bit in decimal,
// 32-bit in hex), structures and filler as hex bytes, number digits as text.
// A DATA_B3_REQ's data pointer shows where it points: "&prompt" for memory
// no received block lies in, "&block NCCI/handle" for a received block.
// A message whose length matches no layout of its kind is written as hex.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_harness.h"

namespace tellmaro::test {

std::string layoutOf(const SentMessage& message);

// The messages sent from index `from` on are exactly `expected`, in layoutOf
// form; on failure the first difference with the messages around it.
::testing::AssertionResult sentAsListed(const EngineHarness& h,
                                        const std::vector<std::string>& expected, size_t from = 0);

}  // namespace tellmaro::test
