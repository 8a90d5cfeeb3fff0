#pragma once
// A filter in the kernel for the SIP socket: a datagram passes only when a
// line ends within its first kLongestStartLine bytes. libre 1.1 looks for
// the first line with a regular expression whose time grows with the square
// of a line that never ends: a few such datagrams a second from anywhere
// would stall the SIP thread. Every SIP message's first line is short, and
// CRLF keep-alives pass.

#include <cstddef>
#include <cstdint>

namespace tellmaro::sip {

inline constexpr size_t kLongestStartLine = 512;

// Attaches the filter to the UDP socket `fd`; false (errno set) when the
// kernel refused it.
bool attachStartLineFilter(int fd);

// The UDP socket of this process bound to `port`, or -1.
int udpSocketOn(uint16_t port);

}  // namespace tellmaro::sip
