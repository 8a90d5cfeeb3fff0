#include "capi/message_schema.h"

#include <array>

#include "capi/message_header.h"

namespace tellmaro::capi {

namespace {

using K = ParamKind;

constexpr ParamSpec kListenReq[] = {{"Controller", K::Address},
                                    {"InfoMask", K::Dword},
                                    {"CIPMask", K::Dword},
                                    {"CIPMask2", K::Dword},
                                    {"CallingNumber", K::CallingNumber},
                                    {"CallingSubaddress", K::Struct}};
constexpr ParamSpec kControllerInfo[] = {{"Controller", K::Address}, {"Info", K::Code}};
constexpr ParamSpec kAlertReq[] = {{"PLCI", K::Address}, {"AdditionalInfo", K::Struct}};
constexpr ParamSpec kPlciInfo[] = {{"PLCI", K::Address}, {"Info", K::Code}};
constexpr ParamSpec kConnectReq[] = {{"Controller", K::Address},
                                     {"CIP", K::Word},
                                     {"CalledNumber", K::CalledNumber},
                                     {"CallingNumber", K::CallingNumber},
                                     {"CalledSubaddress", K::Struct},
                                     {"CallingSubaddress", K::Struct},
                                     {"BProtocol", K::Struct},
                                     {"BC", K::Struct},
                                     {"LLC", K::Struct},
                                     {"HLC", K::Struct},
                                     {"AdditionalInfo", K::Struct}};
constexpr ParamSpec kConnectInd[] = {{"PLCI", K::Address},
                                     {"CIP", K::Word},
                                     {"CalledNumber", K::CalledNumber},
                                     {"CallingNumber", K::CallingNumber},
                                     {"CalledSubaddress", K::Struct},
                                     {"CallingSubaddress", K::Struct},
                                     {"BC", K::Struct},
                                     {"LLC", K::Struct},
                                     {"HLC", K::Struct},
                                     {"AdditionalInfo", K::Struct},
                                     {"SecondCallingNumber", K::Struct}};
constexpr ParamSpec kConnectResp[] = {{"PLCI", K::Address},
                                      {"Reject", K::Code},
                                      {"BProtocol", K::Struct},
                                      {"ConnectedNumber", K::CalledNumber},
                                      {"ConnectedSubaddress", K::Struct},
                                      {"LLC", K::Struct},
                                      {"AdditionalInfo", K::Struct}};
constexpr ParamSpec kConnectActiveInd[] = {{"PLCI", K::Address},
                                           {"ConnectedNumber", K::CalledNumber},
                                           {"ConnectedSubaddress", K::Struct},
                                           {"LLC", K::Struct}};
constexpr ParamSpec kPlciOnly[] = {{"PLCI", K::Address}};
constexpr ParamSpec kDisconnectInd[] = {{"PLCI", K::Address}, {"Reason", K::Code}};
constexpr ParamSpec kInfoReq[] = {
    {"PLCI", K::Address}, {"CalledNumber", K::CalledNumber}, {"AdditionalInfo", K::Struct}};
constexpr ParamSpec kInfoInd[] = {
    {"PLCI", K::Address}, {"InfoNumber", K::Word}, {"InfoElement", K::Struct}};
constexpr ParamSpec kFacilityReq[] = {
    {"Address", K::Address}, {"Selector", K::Word}, {"RequestParameter", K::Struct}};
constexpr ParamSpec kFacilityConf[] = {{"Address", K::Address},
                                       {"Info", K::Code},
                                       {"Selector", K::Word},
                                       {"ConfirmationParameter", K::Struct}};
constexpr ParamSpec kFacilityInd[] = {
    {"Address", K::Address}, {"Selector", K::Word}, {"IndicationParameter", K::Struct}};
constexpr ParamSpec kFacilityResp[] = {
    {"Address", K::Address}, {"Selector", K::Word}, {"ResponseParameter", K::Struct}};
constexpr ParamSpec kSelectBProtocolReq[] = {{"PLCI", K::Address}, {"BProtocol", K::Struct}};
constexpr ParamSpec kPlciNcpi[] = {{"PLCI", K::Address}, {"NCPI", K::Struct}};
constexpr ParamSpec kNcciInfo[] = {{"NCCI", K::Address}, {"Info", K::Code}};
constexpr ParamSpec kNcciNcpi[] = {{"NCCI", K::Address}, {"NCPI", K::Struct}};
constexpr ParamSpec kNcciOnly[] = {{"NCCI", K::Address}};
constexpr ParamSpec kConnectB3Resp[] = {
    {"NCCI", K::Address}, {"Reject", K::Code}, {"NCPI", K::Struct}};
constexpr ParamSpec kDisconnectB3Ind[] = {
    {"NCCI", K::Address}, {"ReasonB3", K::Code}, {"NCPI", K::Struct}};
constexpr ParamSpec kDataB3[] = {{"NCCI", K::Address},    {"Data", K::DataPointer},
                                 {"DataLength", K::Word}, {"DataHandle", K::Word},
                                 {"Flags", K::Word},      {"Data64", K::DataPointer64}};
constexpr ParamSpec kDataB3Conf[] = {
    {"NCCI", K::Address}, {"DataHandle", K::Word}, {"Info", K::Code}};
constexpr ParamSpec kDataB3Resp[] = {{"NCCI", K::Address}, {"DataHandle", K::Word}};

struct SchemaRow {
    Command command;
    Subcommand subcommand;
    std::span<const ParamSpec> params;
};

using C = Command;
using S = Subcommand;

constexpr SchemaRow kSchema[] = {
    {C::Alert, S::Req, kAlertReq},
    {C::Alert, S::Conf, kPlciInfo},
    {C::Connect, S::Req, kConnectReq},
    {C::Connect, S::Conf, kPlciInfo},
    {C::Connect, S::Ind, kConnectInd},
    {C::Connect, S::Resp, kConnectResp},
    {C::ConnectActive, S::Ind, kConnectActiveInd},
    {C::ConnectActive, S::Resp, kPlciOnly},
    {C::Disconnect, S::Req, kAlertReq},
    {C::Disconnect, S::Conf, kPlciInfo},
    {C::Disconnect, S::Ind, kDisconnectInd},
    {C::Disconnect, S::Resp, kPlciOnly},
    {C::Listen, S::Req, kListenReq},
    {C::Listen, S::Conf, kControllerInfo},
    {C::Info, S::Req, kInfoReq},
    {C::Info, S::Conf, kPlciInfo},
    {C::Info, S::Ind, kInfoInd},
    {C::Info, S::Resp, kPlciOnly},
    {C::Facility, S::Req, kFacilityReq},
    {C::Facility, S::Conf, kFacilityConf},
    {C::Facility, S::Ind, kFacilityInd},
    {C::Facility, S::Resp, kFacilityResp},
    {C::SelectBProtocol, S::Req, kSelectBProtocolReq},
    {C::SelectBProtocol, S::Conf, kPlciInfo},
    {C::ConnectB3, S::Req, kPlciNcpi},
    {C::ConnectB3, S::Conf, kNcciInfo},
    {C::ConnectB3, S::Ind, kNcciNcpi},
    {C::ConnectB3, S::Resp, kConnectB3Resp},
    {C::ConnectB3Active, S::Ind, kNcciNcpi},
    {C::ConnectB3Active, S::Resp, kNcciOnly},
    {C::ConnectB3T90Active, S::Ind, kNcciNcpi},
    {C::ConnectB3T90Active, S::Resp, kNcciOnly},
    {C::DisconnectB3, S::Req, kNcciNcpi},
    {C::DisconnectB3, S::Conf, kNcciInfo},
    {C::DisconnectB3, S::Ind, kDisconnectB3Ind},
    {C::DisconnectB3, S::Resp, kNcciOnly},
    {C::DataB3, S::Req, kDataB3},
    {C::DataB3, S::Conf, kDataB3Conf},
    {C::DataB3, S::Ind, kDataB3},
    {C::DataB3, S::Resp, kDataB3Resp},
    {C::ResetB3, S::Req, kNcciNcpi},
    {C::ResetB3, S::Conf, kNcciInfo},
    {C::ResetB3, S::Ind, kNcciOnly},
    {C::ResetB3, S::Resp, kNcciOnly},
};

}  // namespace

size_t paramFixedSize(ParamKind kind) {
    switch (kind) {
        case ParamKind::Word:
        case ParamKind::Code:
            return 2;
        case ParamKind::Dword:
        case ParamKind::Address:
        case ParamKind::DataPointer:
            return 4;
        case ParamKind::DataPointer64:
            return 8;
        case ParamKind::Struct:
        case ParamKind::CalledNumber:
        case ParamKind::CallingNumber:
            return 0;
    }
    return 0;
}

std::span<const ParamSpec> parameterSchema(uint8_t command, uint8_t subcommand) {
    for (const auto& row : kSchema) {
        if (static_cast<uint8_t>(row.command) == command &&
            static_cast<uint8_t>(row.subcommand) == subcommand) {
            return row.params;
        }
    }
    return {};
}

}  // namespace tellmaro::capi
