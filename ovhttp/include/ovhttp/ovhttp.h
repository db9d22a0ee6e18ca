/* The web agent client library: the records that cross its exports and the
 * exports themselves.
 *
 * Callers load the library by file name ("ovhttp.dll", "libovhttp.so") and
 * look the functions up by name. Every export uses the C calling convention,
 * returns one signed byte and writes a GBK message into a caller buffer of at
 * least OVHTTP_MESSAGE_SIZE bytes; where an operation has nothing to say it
 * leaves the buffer untouched. No export throws, keeps state between calls or
 * holds on to a caller's pointer after it returns.
 *
 * All texts are GBK and NUL-terminated inside their fields. */
#ifndef OVHTTP_OVHTTP_H
#define OVHTTP_OVHTTP_H

#include <stdint.h>

#if defined(_WIN32)
#define OVHTTP_CALL __cdecl
#else
#define OVHTTP_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The smallest message buffer the exports accept. */
#define OVHTTP_MESSAGE_SIZE 264

/* One web agent, filled by the caller (350 bytes). */
typedef struct WebAgentInfo {
    char url[200];     /* address of the web agent script */
    char password[50]; /* sent in plain text */
    char keyText[100]; /* key of the content encoding; empty: "mqtrlvesozab" */
} WebAgentInfo;

/* One gateway (OVG) or client (OVC) as the web agents know it (172 bytes). */
typedef struct PeerInfo {
    int32_t kind;            /* nonzero: a gateway record; 0: a client record */
    int32_t reportTime;      /* time of the report, seconds since 1970 */
    int32_t direct;          /* nonzero: reaches the Internet directly; 0: through a proxy */
    char computerName[48];   /* at most 47 characters */
    int32_t reserved;        /* 0 */
    uint32_t wanAddress;     /* IPv4 address, first octet most significant */
    uint32_t cmdPort;        /* the gateway's command port */
    uint8_t computerId[100]; /* identity bytes; the first 12 are sent */
} PeerInfo;

/* Records handed back by the web agent. The caller zero-initialises the list;
 * the operations only append (growing the array in blocks of 10 records) and
 * PeerListFree releases the array and zeroes the list again. */
typedef struct PeerList {
    PeerInfo* records;
    int32_t count;
    int32_t capacity;
} PeerList;

/* Results of ConnectTest. */
typedef enum OvhttpTestResult {
    OVHTTP_TEST_SUPPORTED = 1,   /* the web agent speaks this protocol */
    OVHTTP_TEST_UNSUPPORTED = 2, /* it answered without the protocol marker */
    OVHTTP_TEST_NO_ANSWER = 3
} OvhttpTestResult;

/* Results of the other operations. A number can mean different things to
 * different operations; each operation says which of these it returns. */
typedef enum OvhttpResult {
    OVHTTP_UNKNOWN_REPLY = 0,
    OVHTTP_DONE = 1,
    OVHTTP_NO_ANSWER = 2,
    OVHTTP_WRONG_KIND = 2, /* a report of a gateway as a client, or the other way round */
    OVHTTP_WRONG_PASSWORD = 3,
    OVHTTP_RECORD_UNREADABLE = 3, /* reports: a record of the reply could not be read */
    OVHTTP_REFUSED = 4,           /* refused, or the web agent cannot write its files */
    OVHTTP_NO_READABLE_RECORD = 5,
    OVHTTP_CLIENT_UNKNOWN = 5, /* OVGClearFlag */
    OVHTTP_NO_GATEWAY = 6,     /* OVCUpdateInfo: no gateway has reported */
    OVHTTP_OTHER_GATEWAY = 6   /* OVGClearFlag: the request is for another gateway */
} OvhttpResult;

/* Asks the web agent at url whether it speaks this protocol; an
 * OvhttpTestResult. */
int8_t OVHTTP_CALL ConnectTest(const char* url, char* message);

/* Changes the web agent's password to newPassword. OVHTTP_DONE, _NO_ANSWER,
 * _WRONG_PASSWORD, _REFUSED (also: unsupported) or _UNKNOWN_REPLY. */
int8_t OVHTTP_CALL ChangePassword(const WebAgentInfo* agent, const char* newPassword,
                                  char* message);

/* Reports a client (self->kind 0) and appends the gateways that the web agent
 * knows to peers. Updates self->wanAddress from the web agent's answer.
 * OVHTTP_DONE (records read), _WRONG_KIND, _NO_ANSWER, _WRONG_PASSWORD,
 * _RECORD_UNREADABLE, _REFUSED (also: unsupported), _NO_READABLE_RECORD,
 * _NO_GATEWAY or _UNKNOWN_REPLY. */
int8_t OVHTTP_CALL OVCUpdateInfo(const WebAgentInfo* agent, PeerInfo* self, PeerList* peers,
                                 char* message);

/* Reports a gateway (self->kind nonzero). A gateway behind a proxy also gets
 * the clients that asked for it appended to peers. Updates self->wanAddress.
 * OVHTTP_DONE (reported and, behind a proxy, records read), _WRONG_KIND,
 * _NO_ANSWER, _WRONG_PASSWORD, _RECORD_UNREADABLE, _REFUSED (also:
 * unsupported), _NO_READABLE_RECORD or _UNKNOWN_REPLY. */
int8_t OVHTTP_CALL OVGUpdateInfo(const WebAgentInfo* agent, PeerInfo* self, PeerList* peers,
                                 char* message);

/* A client (a) asks for a connection to a gateway behind a proxy (b).
 * OVHTTP_DONE (recorded), _NO_ANSWER, _WRONG_PASSWORD, _REFUSED (also:
 * unsupported) or _UNKNOWN_REPLY. */
int8_t OVHTTP_CALL ConnectOVG(const WebAgentInfo* agent, const PeerInfo* a, const PeerInfo* b,
                              char* message);

/* A gateway (a) clears the connection request of a client (b).
 * OVHTTP_DONE (cleared), _NO_ANSWER, _WRONG_PASSWORD, _REFUSED (also:
 * unsupported), _CLIENT_UNKNOWN, _OTHER_GATEWAY or _UNKNOWN_REPLY. */
int8_t OVHTTP_CALL OVGClearFlag(const WebAgentInfo* agent, const PeerInfo* a, const PeerInfo* b,
                                char* message);

/* Releases what the operations appended to a list and zeroes the list. */
void OVHTTP_CALL PeerListFree(PeerList* list);

#ifdef __cplusplus
} /* extern "C" */

#include <cstddef>

static_assert(sizeof(WebAgentInfo) == 350);
static_assert(offsetof(WebAgentInfo, password) == 200);
static_assert(offsetof(WebAgentInfo, keyText) == 250);

static_assert(sizeof(PeerInfo) == 172);
static_assert(offsetof(PeerInfo, reportTime) == 4);
static_assert(offsetof(PeerInfo, direct) == 8);
static_assert(offsetof(PeerInfo, computerName) == 12);
static_assert(offsetof(PeerInfo, reserved) == 60);
static_assert(offsetof(PeerInfo, wanAddress) == 64);
static_assert(offsetof(PeerInfo, cmdPort) == 68);
static_assert(offsetof(PeerInfo, computerId) == 72);
#endif

#endif /* OVHTTP_OVHTTP_H */
