// The one-line decoding in traces and failure messages, malformed messages included.
#include <gtest/gtest.h>

#include "capi/message_templates.h"
#include "capi/message_trace.h"
#include "support/byte_compare.h"

namespace tellmaro::capi {
namespace {

using test::hexBytes;

TEST(MessageTrace, NamesTheMessageAndItsFields) {
    MessageTemplates t;
    auto bytes = [](std::span<const uint8_t> m) {
        return std::vector<uint8_t>(m.begin(), m.end());
    };
    t.setApplId(1);
    const std::pair<std::vector<uint8_t>, const char*> rows[] = {
        {bytes(t.listenReq(ListenMask::Calls)),
         "LISTEN_REQ appl=1 #1 len=26 Controller=0x00000001 InfoMask=0x00000000 "
         "CIPMask=0x04010032 CIPMask2=0x00000000 CallingNumber=[] CallingSubaddress=[]"},
        {bytes(t.connectReqToNumber("0171", "0711")),
         "CONNECT_REQ appl=1 #123 len=83 Controller=0x00000001 CIP=16 "
         "CalledNumber=80:\"01710000000000000000\" "
         "CallingNumber=01:83:\"07110000000000000000\" CalledSubaddress=[] "
         "CallingSubaddress=[] BProtocol=[01 00 01 00] BC=[] LLC=[] HLC=[] "
         "AdditionalInfo=[] +13 bytes"},
        {hexBytes("0E 00 01 00 04 82 05 00  01 02 00 00  91 34"),
         "DISCONNECT_IND appl=1 #5 len=14 PLCI=0x00000201 Reason=0x3491"},
        {hexBytes("12 00 01 00 80 82 05 00  01 01 01 00  01 00  03 31 23 7E"),
         "FACILITY_IND appl=1 #5 len=18 Address=0x00010101 Selector=1 "
         "IndicationParameter=\"1#~\""},
        {hexBytes("11 00 01 00 80 82 05 00  01 01 01 00  01 00  02 31 7F"),
         "FACILITY_IND appl=1 #5 len=17 Address=0x00010101 Selector=1 "
         "IndicationParameter=[31 7F]"},
        // The 32-bit layout ends before Data64.
        {hexBytes("16 00 01 00 86 80 05 00  01 01 01 00  00 00 00 00  00 08  03 00  00 00"),
         "DATA_B3_REQ appl=1 #5 len=22 NCCI=0x00010101 Data=0x00000000 DataLength=2048 "
         "DataHandle=3 Flags=0"},
        // The relay's FACILITY_REQ: its structure claims one byte more than is there.
        {bytes(t.facilityReqDtmfListen(0x10101)),
         "FACILITY_REQ appl=1 #134 len=23 Address=0x00010101 Selector=1 "
         "RequestParameter=<struct of 9 overruns the message by 1>"},
        {hexBytes("0C 00 01 00 02 81 05 00  01 02"),
         "CONNECT_CONF appl=1 #5 len=12 (only 10 bytes present) PLCI=<missing>"},
        {hexBytes("08 00 01 00 02 81 05 00"), "CONNECT_CONF appl=1 #5 len=8 PLCI=<missing>"},
        {hexBytes("0C 00 01 00 42 80 05 00  01 02 00 00"),
         "UNKNOWN(0x42/0x80) appl=1 #5 len=12 +4 bytes"},
        {hexBytes("0C 00"), "<short message of 2 bytes>"},
    };
    for (const auto& [message, text] : rows) {
        EXPECT_EQ(describeMessage(message), text);
    }
}

}  // namespace
}  // namespace tellmaro::capi
