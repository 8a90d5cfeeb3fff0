// The readable one-line decoding used in traces and failure messages.
#include <gtest/gtest.h>

#include "capi/message_templates.h"
#include "capi/message_trace.h"
#include "support/byte_compare.h"

namespace tellmaro::capi {
namespace {

using test::hexBytes;

TEST(MessageTrace, NamesTheMessageAndItsFields) {
    MessageTemplates templates;
    templates.setApplId(1);
    EXPECT_EQ(describeMessage(templates.listenReq(ListenMask::Calls)),
              "LISTEN_REQ appl=1 #1 len=26 Controller=0x00000001 InfoMask=0x00000000 "
              "CIPMask=0x04010032 CIPMask2=0x00000000 CallingNumber=[] CallingSubaddress=[]");
    EXPECT_EQ(describeMessage(templates.connectReqToNumber("0171", "0711")),
              "CONNECT_REQ appl=1 #123 len=83 Controller=0x00000001 CIP=16 "
              "CalledNumber=80:\"01710000000000000000\" "
              "CallingNumber=01:83:\"07110000000000000000\" CalledSubaddress=[] "
              "CallingSubaddress=[] BProtocol=[01 00 01 00] BC=[] LLC=[] HLC=[] "
              "AdditionalInfo=[] +13 bytes");
    EXPECT_EQ(describeMessage(hexBytes("0E 00 01 00 04 82 05 00  01 02 00 00  91 34")),
              "DISCONNECT_IND appl=1 #5 len=14 PLCI=0x00000201 Reason=0x3491");
    EXPECT_EQ(describeMessage(hexBytes("11 00 01 00 80 82 05 00  01 01 01 00  01 00  02 31 23")),
              "FACILITY_IND appl=1 #5 len=17 Address=0x00010101 Selector=1 "
              "IndicationParameter=\"1#\"");
}

TEST(MessageTrace, SaysWhatIsWrongWithAMalformedMessage) {
    // The relay's FACILITY_REQ: its structure claims one byte more than is there.
    MessageTemplates templates;
    EXPECT_EQ(describeMessage(templates.facilityReqDtmfListen(0x10101)),
              "FACILITY_REQ appl=0 #134 len=23 Address=0x00010101 Selector=1 "
              "RequestParameter=<struct of 9 overruns the message by 1>");
    EXPECT_EQ(describeMessage(hexBytes("0C 00 01 00 02 81 05 00  01 02")),
              "CONNECT_CONF appl=1 #5 len=12 (only 10 bytes present) PLCI=<missing>");
    EXPECT_EQ(describeMessage(hexBytes("0C 00 01 00 42 80 05 00  01 02 00 00")),
              "UNKNOWN(0x42/0x80) appl=1 #5 len=12 +4 bytes");
    EXPECT_EQ(describeMessage(hexBytes("0C 00")), "<short message of 2 bytes>");
}

}  // namespace
}  // namespace tellmaro::capi
