/*
 * The binary contract between the client's core process and this plug-in.
 *
 * Plain C (C11 and C++20). Built 32-bit, every record has the exact sizes and
 * offsets the core expects; on 64-bit builds order, number widths and packing
 * stay while addresses, handles and function pointers become pointer-sized.
 * Every function table takes its owner first. Texts are NUL-terminated 8-bit
 * strings unless a length travels with them.
 */
#ifndef TOV_PLUGIN_ABI_H
#define TOV_PLUGIN_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Values crossing the boundary ------------------------------------- */

typedef enum HostValueKind {
  HostValueKind_Null = 0,
  HostValueKind_Bool = 1,
  HostValueKind_Int64 = 2,
  HostValueKind_UInt64 = 3,
  HostValueKind_Double = 4,
  HostValueKind_BorrowedString = 5, /* not freed by the receiver */
  HostValueKind_String = 6,         /* owned: freed when the value is released */
  HostValueKind_BorrowedBytes = 7,
  HostValueKind_Bytes = 8,
  HostValueKind_Array = 9,  /* owned; elements released recursively */
  HostValueKind_Object = 10 /* owned */
} HostValueKind;

struct HostValue;
struct HostObjectEntry;

/* Packing is explicit on every record: 32-bit Windows aligns 8-byte members
 * to 8 unless told otherwise, 32-bit Linux to 4, and the core was built under
 * the first rule with these records packed. */
#pragma pack(push, 4)
/* A kind (HostValueKind, 32-bit) and an 8-byte payload; 12 bytes 32-bit. */
typedef struct HostValue {
  uint32_t kind;
  union {
    uint8_t boolean;
    int64_t int64;
    uint64_t uint64;
    double number;
    struct { const char* data; uint32_t length; } string;
    struct { const void* data; uint32_t size; } bytes;
    struct { struct HostValue* items; uint32_t count; } array;
    struct { struct HostObjectEntry* entries; uint32_t count; } object;
  } u;
} HostValue;
#pragma pack(pop)

#pragma pack(push, 1)
/* Object members follow each other at 17-byte steps (32-bit). */
typedef struct HostObjectEntry {
  const char* key;
  HostValue value;
  uint8_t keyOwned; /* nonzero: the key text is freed with the entry */
} HostObjectEntry;
#pragma pack(pop)

#pragma pack(push, 4)
/* A request argument; name is null for a positional value. */
typedef struct HostNamedValue {
  const char* name;
  HostValue value;
} HostNamedValue;

typedef struct HostEvent {
  const char* name;
  HostValue payload;
  void* context; /* for delivered events: the context given at registration */
} HostEvent;
#pragma pack(pop)

typedef struct HostHeader {
  const char* name;
  const char* value;
} HostHeader;

/* ---- Requests ---------------------------------------------------------- */

/* Filled by the plug-in for outgoing requests, by the core for routed ones. */
typedef struct RemotingRequest {
  uint32_t method; /* 1 DELETE 2 GET 3 HEAD 4 OPTIONS 5 PATCH 6 POST 7 PUT 8 custom; else 0 */
  const char* url; /* path with any query */
  const HostNamedValue* args;
  uint32_t argCount;
  const HostHeader* headers;
  uint32_t headerCount;
  const void* body;
  uint32_t bodyLength;
  const char* contentType;
  const char* customMethod;
  uintptr_t requestWord; /* outgoing: the core handle; incoming: opaque, passed to the handler */
  uint32_t reserved;
} RemotingRequest;

struct RemotingResponse;

/* Stream callbacks of a response body. read: on entry *count is the buffer
 * size, on return the bytes placed; *more says whether data will follow. */
typedef uint8_t (*RemotingStreamRead)(void* stream, void* buffer, uint32_t* count, uint8_t* more);
typedef void (*RemotingStreamClose)(void* stream);
/* Frees everything the filler of the response put into it. */
typedef void (*RemotingResponseRelease)(struct RemotingResponse* response);

#pragma pack(push, 1)
/* Zero-filled by the caller, filled by the callee; 62 bytes 32-bit. */
typedef struct RemotingResponse {
  HostValue body;
  const char* error; /* null on success */
  uint8_t flag;
  uint8_t secondFlag;
  uint32_t format;
  int32_t status;
  const char* contentType;
  const HostHeader* headers;
  uint32_t headerCount;
  RemotingStreamRead streamRead; /* null: the body is in `body` */
  RemotingStreamClose streamClose;
  uint32_t streamSizeHint;
  uint32_t unused;
  void* stream;
  RemotingResponseRelease release; /* may be null */
} RemotingResponse;
#pragma pack(pop)

/* ---- The core's function table ---------------------------------------- */

typedef struct CoreApi CoreApi;
typedef void (*HostEventCallback)(const HostEvent* event);
typedef void (*ScheduledCallback)(void* context);

/* Served by the core; the plug-in calls every entry from within a call the
 * core made into it (one call at a time), never from a thread of its own.
 * A host embeds this table at the start of its own state. */
struct CoreApi {
  /* Synchronous: the response is filled when the call returns. */
  void (*Request)(const CoreApi* api, RemotingResponse* response, const RemotingRequest* request);
  /* Not called by this plug-in. */
  void (*Reserved1)(const CoreApi* api, uintptr_t a, uintptr_t b);
  /* The core copies what it keeps; the plug-in releases the payload after. */
  void (*SendEvent)(const CoreApi* api, const HostEvent* event);
  /* flags: 0 resource subscriptions, 1 LCDS and service-proxy events. */
  void (*RegisterEventHandler)(const CoreApi* api, const char* eventName, uintptr_t coreHandle,
                               HostEventCallback callback, void* context, uint32_t flags);
  void (*UnregisterEventHandler)(const CoreApi* api, const char* eventName, uintptr_t coreHandle);
  /* Calls back once, on a later turn of the core's loop. */
  void (*ScheduleCallback)(const CoreApi* api, const char* label, ScheduledCallback callback,
                           void* context, double delaySeconds, uint32_t reserved);
  /* Runs one turn of the core's loop; may re-enter the plug-in. */
  void (*Pump)(const CoreApi* api);
  /* Brackets a wait that pumps; calls nest and pair. */
  void (*BeginWait)(const CoreApi* api, const char* label, uint32_t reserved);
  void (*EndWait)(const CoreApi* api);
  /* level: 0 OKAY, 1 WARN, 2 ERROR, 3 ALWAYS; the core formats the line. */
  void (*Log)(const CoreApi* api, int32_t level, const char* message);
};

/* Passed to Init; the plug-in keeps the pointer for its whole life. */
typedef struct CoreContext {
  const CoreApi* api;
  uintptr_t coreHandle; /* passed back in requests and event registrations */
} CoreContext;

/* ---- The plug-in's side ----------------------------------------------- */

/* 56 bytes; the counters are read one after the other, each atomically. */
typedef struct PluginMemoryStats {
  uint64_t peakLiveBytes;
  uint64_t peakLiveAllocations;
  uint64_t bytesAllocated;
  uint64_t allocations;
  uint64_t bytesFreed;
  uint64_t frees;
  uint32_t reserved[2]; /* always 0 */
} PluginMemoryStats;

/* Lives inside the plug-in object, exactly as long as the plug-in. */
typedef struct PluginCallbacks {
  /* Called once by the core after the export; nonzero for success. */
  uint8_t (*Init)(void* plugin, const CoreContext* context);
  /* Called once, last; destroys the plug-in (and this table). */
  void (*Shutdown)(void* plugin);
  /* May be called at any time, from any thread. */
  void (*GetMemoryStats)(void* plugin, PluginMemoryStats* out);
} PluginCallbacks;

/* ---- The plug-in's API, as the core reads it ------------------------- */

/* The core hands a request for one function to the plug-in through the
 * function's record: dispatch(record context, response, request). */
typedef void (*PluginDispatch)(void* context, RemotingResponse* response, const RemotingRequest* request);

#pragma pack(push, 1)
/* 12 bytes 32-bit. Type codes: the registry's BindingTypeCode (0 none, 1
 * bool, 2-9 int8..uint64, 10 float, 11 double, 12 string, 13 any value,
 * 14 bytes, 15 list, 16 enum, 17 struct, 18 callback, 19 map). */
typedef struct PluginArgumentDescription {
  const char* name;
  const char* description;
  uint8_t typeCode;
  uint8_t elementTypeCode; /* of a list or map */
  uint8_t optional;
  uint8_t location; /* 0 any, 1 query, 2 path, 4 header, 5 body */
} PluginArgumentDescription;

/* 61 bytes 32-bit: one function of the registry. */
typedef struct PluginFunctionDescription {
  const char* nameSpace;
  uint32_t argumentCount;
  void* context; /* in a function record: what dispatch is called with */
  const char* name;
  const char* description;
  const char* help;
  const PluginArgumentDescription* arguments;
  uint32_t returnTypeCode;
  uint32_t returnElementTypeCode;
  const char* returnTypeName; /* a struct's or enum's name, else "" */
  const char* const* tags;
  uint32_t tagCount;
  uint8_t threadSafe;
  uint8_t isAsync;
  uint8_t reserved[11];
} PluginFunctionDescription;

/* 8 bytes 32-bit: one argument's location, in argument order. */
typedef struct PluginArgumentLocationEntry {
  const struct PluginArgumentLocationEntry* next; /* null for the last */
  uint32_t location;
} PluginArgumentLocationEntry;

/* 12 bytes 32-bit. */
typedef struct PluginTextListEntry {
  const struct PluginTextListEntry* next;
  const char* const* texts;
  uint32_t count;
} PluginTextListEntry;

/* 90 bytes 32-bit: one routed function. */
typedef struct PluginFunctionRecord {
  PluginFunctionDescription description;
  PluginDispatch dispatch;
  const PluginArgumentLocationEntry* locations;
  const char* pathTemplate;
  uint32_t method; /* RemotingRequest method codes 1 to 8, else 0 */
  uint8_t flag;
  const PluginTextListEntry* textLists;
  uint32_t textListCount;
  const char* customMethod;
} PluginFunctionRecord;

/* A struct's field or an enum's value. */
typedef struct PluginMemberDescription {
  const char* name;
  const char* description;
  uint32_t typeCode;        /* fields; 0 for enum values */
  uint32_t elementTypeCode; /* fields of list or map type */
  const char* typeName;     /* a struct's or enum's name, else "" */
  int32_t value;            /* enum values: the value; fields: the byte offset */
  uint8_t optional;
} PluginMemberDescription;

typedef struct PluginTypeDescription {
  const char* name;
  const char* nameSpace;
  const char* description;
  uint32_t nativeSize;
  uint8_t isEnum;
  const PluginMemberDescription* members; /* fields in registration order, or values */
  uint32_t memberCount;
} PluginTypeDescription;

typedef struct PluginEventDescription {
  const char* name;
  const char* description;
  uint32_t payloadTypeCode;
  const char* payloadTypeName;
} PluginEventDescription;
#pragma pack(pop)

/* What the plug-in publishes about its functions, types and events: six
 * words 32-bit. Everything stays valid until Shutdown. */
typedef struct ApiDescription {
  const PluginFunctionRecord* functions;
  uint32_t functionCount;
  const PluginTypeDescription* types;
  uint32_t typeCount;
  const PluginEventDescription* events;
  uint32_t eventCount;
} ApiDescription;

/* In: the core's plug-in API version. Out: the plug-in's version and the
 * rest. Every out pointer stays valid until Shutdown. */
typedef struct PluginHandshake {
  uint32_t major;
  uint32_t minor;
  uint32_t patch;
  const PluginCallbacks* callbacks;
  void* plugin;
  const char* shortName;
  const ApiDescription* apiDescription;
} PluginHandshake;

/* The plug-in's only export. When the versions are incompatible it reports
 * the failure and ends the process instead of returning. */
#define TOV_PLUGIN_ENTRY_NAME "load_tov_champ_select_legacy"
typedef void (*TovPluginEntry)(PluginHandshake* handshake);

#if defined(TOV_BUILDING_PLUGIN) && defined(__GNUC__)
__attribute__((visibility("default")))
#endif
void load_tov_champ_select_legacy(PluginHandshake* handshake)
#ifdef __cplusplus
    noexcept
#endif
    ;

#ifdef __cplusplus
}
#endif

#endif /* TOV_PLUGIN_ABI_H */
