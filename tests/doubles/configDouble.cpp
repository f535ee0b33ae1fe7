// Configuration double: programmable attribute ids, formats, device name and market region.

#include "configDouble.h"

#include "config.h"

#include <cstring>
#include <map>

namespace {

std::map<std::string, std::vector<uint32_t>> xidAnswers;
std::map<std::string, int> xidCalls;
std::map<uint16_t, std::string> formats;
std::vector<uint16_t> formatRequests;
int deviceNameStatus = 0;
std::string deviceName;
std::vector<configDouble::AttrRequest> attrRequests;
int regionStatus = 0;
uint32_t regionCode = 0;
std::vector<int> regionRequests;

const char kSysName[] = "connectivity.SNMP.systemGroup.sysName";

} // namespace

extern "C" uint32_t oa_xid_of(const char *name)
{
    std::string key = name ? name : "NULL";
    int call = xidCalls[key]++;
    auto found = xidAnswers.find(key);
    if (found == xidAnswers.end() || found->second.empty())
        return 0;
    const std::vector<uint32_t> &answers = found->second;
    return answers[static_cast<size_t>(call) < answers.size() ? call : answers.size() - 1];
}

extern "C" int TD_GetFormat(uint16_t formatId, char *format)
{
    formatRequests.push_back(formatId);
    if (!format)
        return CFG_ERR_ARGUMENT;
    auto found = formats.find(formatId);
    std::string text = found == formats.end() ? std::string() : found->second;
    std::strncpy(format, text.c_str(), TD_FORMAT_SIZE - 1);
    format[TD_FORMAT_SIZE - 1] = '\0';
    return found == formats.end() ? CFG_ERR_ARGUMENT : CFG_OK;
}

extern "C" int Cfg_GetAttrValue(const char *name, char *value, size_t size)
{
    attrRequests.push_back({name ? name : "NULL", size});
    if (!name || !value || size == 0)
        return CFG_ERR_ARGUMENT;
    if (std::strcmp(name, kSysName) != 0)
        return CFG_ERR_ABSENT;
    if (deviceNameStatus != 0)
        return deviceNameStatus;
    if (deviceName.size() >= size) {
        value[0] = '\0';
        return CFG_ERR_TOO_LONG;
    }
    std::memcpy(value, deviceName.c_str(), deviceName.size() + 1);
    return CFG_OK;
}

extern "C" int CfgSrvGetMarketRegion(int instance, uint32_t *region)
{
    regionRequests.push_back(instance);
    if (regionStatus != 0)
        return regionStatus;
    if (!region)
        return CFG_ERR_ARGUMENT;
    *region = regionCode;
    return CFG_OK;
}

namespace configDouble {

void Reset()
{
    xidAnswers = {{"OID_ATT_DATE_FORMAT", {OA_XID_DATE_FORMAT}},
                  {"OID_ATT_TIME_FORMAT", {OA_XID_TIME_FORMAT}}};
    xidCalls.clear();
    formats = {{OA_XID_DATE_FORMAT, "%m/%d/%Y"}, {OA_XID_TIME_FORMAT, "%H:%M:%S"}};
    formatRequests.clear();
    deviceNameStatus = 0;
    deviceName = "device-1";
    attrRequests.clear();
    regionStatus = 0;
    regionCode = 0;
    regionRequests.clear();
}

void SetXidAnswers(const std::string &name, const std::vector<uint32_t> &answers)
{
    xidAnswers[name] = answers;
}

int XidCalls(const std::string &name)
{
    auto found = xidCalls.find(name);
    return found == xidCalls.end() ? 0 : found->second;
}

void SetFormat(uint16_t formatId, const std::string &format) { formats[formatId] = format; }
const std::vector<uint16_t> &FormatRequests() { return formatRequests; }

void SetDeviceName(int status, const std::string &value)
{
    deviceNameStatus = status;
    deviceName = value;
}
const std::vector<AttrRequest> &AttrRequests() { return attrRequests; }

void SetMarketRegion(int status, uint32_t region)
{
    regionStatus = status;
    regionCode = region;
}
const std::vector<int> &RegionRequests() { return regionRequests; }

} // namespace configDouble

namespace {
// The defaults hold from the start, not only after the first Reset().
const bool defaultsSet = (configDouble::Reset(), true);
} // namespace
