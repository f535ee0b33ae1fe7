/*
 * config.h - the device's configuration services: attribute ids and formats, attribute values,
 * and the market region.
 *
 * This stand-in reads a text file named by the environment variable DEVICE_CONFIG (default
 * "/etc/device/device.conf" when unset or empty): one "key = value" a line, split at the first
 * "="; a line whose first non-blank character is "#" is a comment; blank lines are ignored;
 * blanks around key and value are trimmed; when a key appears more than once the last line wins.
 * A malformed line (no "=", or an empty key) is skipped and logged with the file name and line
 * number, once per version of the file.
 *
 * The file is parsed once and its values kept. Whether it changed (its device, inode, size or
 * modification time, or DEVICE_CONFIG itself) is looked at, with one stat, at most every 100 ms;
 * a changed file is read again, so an edit takes effect on the next run.
 *
 * Built-in defaults: a file that is missing, that exists but cannot be read (a FIFO, device or
 * directory, which is never opened in a way that blocks; no permission; no descriptor to spare;
 * a read error) or that is larger than 64 KiB is answered as if it set no key: dates "%m/%d/%Y",
 * times "%H:%M:%S", no device name (CFG_ERR_ABSENT), no market region (CFG_ERR_ABSENT). One
 * record names the file, the reason and these defaults, once per version of the file (a missing
 * file is a version of its own), not at every call. A file that cannot be read is tried again at
 * every call, so it is used as soon as it can be read; a missing or too large one when it changes.
 * Lines beyond the first 1024 keys are logged and not read.
 * Nothing here allocates memory, so the answers do not depend on how much the device has left.
 * No call throws. All calls are thread-safe.
 *
 * Keys:
 *   OID_ATT_DATE_FORMAT     strftime format of dates, at most 19 characters (default "%m/%d/%Y")
 *   OID_ATT_TIME_FORMAT     strftime format of times, at most 19 characters (default "%H:%M:%S")
 *   connectivity.SNMP.systemGroup.sysName   the device name
 *   market.region           the market-region code: decimal digits only, at most 4294967295
 * Any other key can be read with Cfg_GetAttrValue as well.
 */
#ifndef SERVICES_CONFIG_CONFIG_H
#define SERVICES_CONFIG_CONFIG_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Attribute ids that oa_xid_of() gives out; 0 means "no such attribute". */
enum { OA_XID_DATE_FORMAT = 0x0d01, OA_XID_TIME_FORMAT = 0x0d02 };

/* Size of the buffer TD_GetFormat() fills: a format of at most 19 characters and its NUL. */
enum { TD_FORMAT_SIZE = 20 };

/* Status codes. */
enum {
    CFG_OK = 0,
    CFG_ERR_ARGUMENT = 1,   /* a NULL pointer, a zero size, an unknown attribute id */
    CFG_ERR_ABSENT = 2,     /* the key is not in the configuration */
    CFG_ERR_TOO_LONG = 3,   /* the value does not fit the caller's buffer */
    CFG_ERR_MALFORMED = 4,  /* the value is not of the key's kind */
    CFG_ERR_UNAVAILABLE = 5 /* the configuration cannot be consulted now (its lock failed) */
};

/* 'oa_xid_of()' - the attribute id of "OID_ATT_DATE_FORMAT" or "OID_ATT_TIME_FORMAT"; 0 for any
 * other name. */
uint32_t oa_xid_of(const char *name);

/* 'TD_GetFormat()' - writes the strftime format of attribute `formatId` into `format`, a buffer
 * of TD_FORMAT_SIZE bytes. A configured format longer than 19 characters is rejected with a log
 * record and the default written instead; an empty configured format is written as it is.
 * Returns 0, CFG_ERR_UNAVAILABLE (nothing written), or CFG_ERR_ARGUMENT (NULL `format` or an id
 * other than the two above; nothing written). */
int TD_GetFormat(uint16_t formatId, char *format);

/* 'Cfg_GetAttrValue()' - writes the value of key `name` into `value` as a NUL-terminated text
 * of at most `size` bytes; an empty value is a value. Returns 0, CFG_ERR_ABSENT,
 * CFG_ERR_TOO_LONG or CFG_ERR_UNAVAILABLE (value holds "" with each), or CFG_ERR_ARGUMENT (NULL
 * pointer or zero `size`; nothing written). Never writes past `size` bytes. */
int Cfg_GetAttrValue(const char *name, char *value, size_t size);

/* 'CfgSrvGetMarketRegion()' - writes the market-region code into `*region`. `instance` must be 0.
 * Returns 0, CFG_ERR_ABSENT, CFG_ERR_MALFORMED (logged once per version of the file),
 * CFG_ERR_UNAVAILABLE or CFG_ERR_ARGUMENT (another instance, or NULL `region`); on failure
 * `*region` is untouched. */
int CfgSrvGetMarketRegion(int instance, uint32_t *region);

#ifdef __cplusplus
}
#endif

#endif
