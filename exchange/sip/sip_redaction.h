#pragma once
// SIP messages for the verbose trace, with the credentials of Authorization
// and Proxy-Authorization headers replaced.

#include <string>
#include <string_view>

namespace tellmaro::sip {

std::string redactCredentials(std::string_view message);

}  // namespace tellmaro::sip
