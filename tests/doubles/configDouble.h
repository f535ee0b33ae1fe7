/*
 * configDouble.h - control of the configuration services' test double.
 *
 * Defaults follow the service's own: oa_xid_of answers OA_XID_DATE_FORMAT and OA_XID_TIME_FORMAT
 * for the two format names and 0 for any other; TD_GetFormat answers "%m/%d/%Y" and "%H:%M:%S"
 * for those ids and "" for any other; the device name is "device-1"; the market region is 0.
 */
#ifndef TESTS_DOUBLES_CONFIGDOUBLE_H
#define TESTS_DOUBLES_CONFIGDOUBLE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace configDouble {

void Reset();

// oa_xid_of(name) answers the listed ids one call after the other; the last one repeats.
void SetXidAnswers(const std::string &name, const std::vector<uint32_t> &answers);
int XidCalls(const std::string &name);

// TD_GetFormat(id) writes `format` (at most 19 characters).
void SetFormat(uint16_t formatId, const std::string &format);
const std::vector<uint16_t> &FormatRequests();

// Cfg_GetAttrValue: the device name's status and value.
void SetDeviceName(int status, const std::string &value);
struct AttrRequest {
    std::string name;
    size_t size;
};
const std::vector<AttrRequest> &AttrRequests();

// CfgSrvGetMarketRegion: region and status (nonzero: *region untouched).
void SetMarketRegion(int status, uint32_t region);
const std::vector<int> &RegionRequests(); // the `instance` argument of each call

} // namespace configDouble

#endif
