/* The machine identity library: a computer id, the local adapters and their
 * MAC addresses, and whether a remote IPv4 address answers ARP.
 *
 * Callers load the library by file name ("ovident.dll", "libovident.so") and
 * look the functions up by name. Every export uses the C calling convention,
 * returns int, keeps no state between calls and never throws. Failures of
 * the adapter listing are shown in message boxes (caption "错误", error icon;
 * on Linux and headless Windows one line on standard error). */
#ifndef OVIDENT_OVIDENT_H
#define OVIDENT_OVIDENT_H

#include <stdint.h>

#if defined(_WIN32)
#define OVIDENT_CALL __cdecl
/* ovident.def names the exports, undecorated in both Windows builds. */
#define OVIDENT_API
#else
#define OVIDENT_CALL
/* The library is built with hidden visibility; only these names leave it. */
#define OVIDENT_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What the exports return. */
typedef enum OvidentResult {
    OVIDENT_FAILED = 0, /* no id formed, no adapter found, no usable ARP answer */
    OVIDENT_OK = 1
} OvidentResult;

/* The smallest computer id buffer. */
#define OVIDENT_ID_SIZE 11
/* The longest hardware address an adapter reports. */
#define OVIDENT_MAX_ADDRESS 8

/* One adapter of GetNameAndMAC (168 bytes). Addresses and masks are numbers
 * with the first octet most significant (192.0.2.1 is 0xC0000201); unused
 * slots are 0. */
typedef struct OvidentAdapterRecord {
    uint8_t mac[OVIDENT_MAX_ADDRESS]; /* address length bytes, normally 6 */
    uint32_t address[4];
    uint32_t mask[4];
    char description[128]; /* GBK, NUL-terminated */
} OvidentAdapterRecord;

/* Forms the computer id in id[0..10] (zeroed by the caller): the disk
 * serial value, little-endian, with tag in id[4]; or, without a disk serial,
 * the volume serial, big-endian, tag in id[4], and the adapters' MAC average
 * in id[5..10]. Nonzero when an id was formed. */
OVIDENT_API int OVIDENT_CALL GetComputerID(unsigned char* id, int tag);

/* Writes the hardware address of the adapter that holds ip (first octet
 * most significant) to mac; ip 0 picks the first Ethernet adapter that is
 * not a PPP adapter. REQUIRES: mac holds OVIDENT_MAX_ADDRESS bytes (6 are
 * written for Ethernet). 1 when found, else 0. */
OVIDENT_API int OVIDENT_CALL GetIPMAC(unsigned ip, unsigned char* mac);

/* The Ethernet and PPP adapters. records null: *count becomes their number.
 * Otherwise *count on entry is how many records the array holds; at most
 * that many are written and *count becomes the number written. Returns 1. */
OVIDENT_API int OVIDENT_CALL GetNameAndMAC(OvidentAdapterRecord* records, int* count);

/* Asks ip (network byte order, as in a sockaddr_in) for its MAC by ARP,
 * waiting about one second at most. 1 with mac[0..5] filled when the address
 * answered with a usable MAC, else 0. On Linux only an address on a directly
 * connected network is asked; any other answers 0 at once, and nothing is
 * sent. */
OVIDENT_API int OVIDENT_CALL GetReMoteIPMAC(unsigned ip, unsigned char* mac);

#ifdef __cplusplus
} /* extern "C" */

/* Kept for callers built against the class; it carries no behaviour. */
class OVIDENT_API Covident {
  public:
    Covident();
    Covident& operator=(const Covident& other);

  private:
    int32_t m_nValue;
};
#endif

#endif /* OVIDENT_OVIDENT_H */
