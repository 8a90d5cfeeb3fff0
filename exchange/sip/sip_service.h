#pragma once
// tellmaro-sip as systemd sees it, once for each turn of its serving loop.

#include "exchange/sip/sip_line.h"
#include "exchange/sip/sip_network.h"
#include "service/service_notifier.h"

namespace tellmaro::sip {

// The line's state as the status; the watchdog's ping only while the SIP
// thread's loop turns too (its heartbeat every half ping interval), so that
// a hung SIP thread stops the pings as a hung serving loop does.
inline void reportTurn(service::ServiceNotifier& service, const SipLine& line,
                       const SipNetwork& network) {
    service.status(network.lineStatus());
    if (line.turnedWithin(service.watchdogInterval())) {
        service.watchdogTick();
    }
}

}  // namespace tellmaro::sip
