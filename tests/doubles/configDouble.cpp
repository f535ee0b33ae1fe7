// Configuration double: programmable attribute ids, formats, device name and market region.

#include "doubles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace configDouble { State state; }

using configDouble::state;

extern "C" uint32_t oa_xid_of(const char *name)
{
    std::string key = name ? name : "NULL";
    size_t call = static_cast<size_t>(state.xidCalls[key]++);
    const std::vector<uint32_t> &answers = state.xids[key];
    return answers.empty() ? 0 : answers[std::min(call, answers.size() - 1)];
}

extern "C" int TD_GetFormat(uint16_t formatId, char *format)
{
    state.formatRequests.push_back(formatId);
    std::string text = state.formats.count(formatId) ? state.formats[formatId] : "";
    std::snprintf(format, TD_FORMAT_SIZE, "%s", text.c_str());
    return text.empty() ? CFG_ERR_ARGUMENT : CFG_OK;
}

extern "C" int Cfg_GetAttrValue(const char *name, char *value, size_t size)
{
    state.attrRequests.push_back(std::string(name ? name : "NULL") + " " + std::to_string(size));
    if (!name || std::strcmp(name, "connectivity.SNMP.systemGroup.sysName") != 0)
        return CFG_ERR_ABSENT;
    if (state.deviceNameStatus != CFG_OK)
        return state.deviceNameStatus;
    if (state.deviceName.size() >= size)
        return CFG_ERR_TOO_LONG;
    std::memcpy(value, state.deviceName.c_str(), state.deviceName.size() + 1);
    return CFG_OK;
}

extern "C" int CfgSrvGetMarketRegion(int instance, uint32_t *region)
{
    state.regionRequests.push_back(instance);
    if (state.regionStatus != CFG_OK)
        return state.regionStatus;
    *region = state.region;
    return CFG_OK;
}
