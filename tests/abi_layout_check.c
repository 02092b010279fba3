/* Compiled 32-bit, as C11 and as C++20, under the Linux and the Windows
 * alignment rules: the records must match the core's layout byte for byte. */
#include <stddef.h>

#include "tov/plugin_abi.h"

#ifdef __cplusplus
#define TOV_ASSERT static_assert
#else
#define TOV_ASSERT _Static_assert
#endif

#define SIZE(type, n) TOV_ASSERT(sizeof(type) == (n), #type " size")
#define AT(type, field, n) TOV_ASSERT(offsetof(type, field) == (n), #type "." #field)

TOV_ASSERT(sizeof(void*) == 4, "compile with -m32");

SIZE(HostValue, 12);
AT(HostValue, kind, 0);
AT(HostValue, u, 4);
TOV_ASSERT(sizeof(((HostValue*)0)->u) == 8, "HostValue payload");

SIZE(HostObjectEntry, 17);
AT(HostObjectEntry, key, 0);
AT(HostObjectEntry, value, 4);
AT(HostObjectEntry, keyOwned, 16);

SIZE(HostNamedValue, 16);
AT(HostNamedValue, name, 0);
AT(HostNamedValue, value, 4);

SIZE(HostEvent, 20);
AT(HostEvent, name, 0);
AT(HostEvent, payload, 4);
AT(HostEvent, context, 16);

SIZE(HostHeader, 8);
AT(HostHeader, value, 4);

SIZE(RemotingRequest, 48);
AT(RemotingRequest, method, 0);
AT(RemotingRequest, url, 4);
AT(RemotingRequest, args, 8);
AT(RemotingRequest, argCount, 12);
AT(RemotingRequest, headers, 16);
AT(RemotingRequest, headerCount, 20);
AT(RemotingRequest, body, 24);
AT(RemotingRequest, bodyLength, 28);
AT(RemotingRequest, contentType, 32);
AT(RemotingRequest, customMethod, 36);
AT(RemotingRequest, requestWord, 40);
AT(RemotingRequest, reserved, 44);

SIZE(RemotingResponse, 62);
AT(RemotingResponse, body, 0);
AT(RemotingResponse, error, 12);
AT(RemotingResponse, flag, 16);
AT(RemotingResponse, secondFlag, 17);
AT(RemotingResponse, format, 18);
AT(RemotingResponse, status, 22);
AT(RemotingResponse, contentType, 26);
AT(RemotingResponse, headers, 30);
AT(RemotingResponse, headerCount, 34);
AT(RemotingResponse, streamRead, 38);
AT(RemotingResponse, streamClose, 42);
AT(RemotingResponse, streamSizeHint, 46);
AT(RemotingResponse, unused, 50);
AT(RemotingResponse, stream, 54);
AT(RemotingResponse, release, 58);

SIZE(CoreApi, 40);
AT(CoreApi, Request, 0);
AT(CoreApi, Reserved1, 4);
AT(CoreApi, SendEvent, 8);
AT(CoreApi, RegisterEventHandler, 12);
AT(CoreApi, UnregisterEventHandler, 16);
AT(CoreApi, ScheduleCallback, 20);
AT(CoreApi, Pump, 24);
AT(CoreApi, BeginWait, 28);
AT(CoreApi, EndWait, 32);
AT(CoreApi, Log, 36);

SIZE(CoreContext, 8);
AT(CoreContext, coreHandle, 4);

SIZE(PluginMemoryStats, 56);
AT(PluginMemoryStats, peakLiveBytes, 0);
AT(PluginMemoryStats, peakLiveAllocations, 8);
AT(PluginMemoryStats, bytesAllocated, 16);
AT(PluginMemoryStats, allocations, 24);
AT(PluginMemoryStats, bytesFreed, 32);
AT(PluginMemoryStats, frees, 40);
AT(PluginMemoryStats, reserved, 48);

SIZE(PluginCallbacks, 12);
AT(PluginCallbacks, Init, 0);
AT(PluginCallbacks, Shutdown, 4);
AT(PluginCallbacks, GetMemoryStats, 8);

SIZE(ApiDescription, 24);
AT(ApiDescription, functions, 0);
AT(ApiDescription, functionCount, 4);
AT(ApiDescription, types, 8);
AT(ApiDescription, typeCount, 12);
AT(ApiDescription, events, 16);
AT(ApiDescription, eventCount, 20);

SIZE(PluginArgumentDescription, 12);
AT(PluginArgumentDescription, description, 4);
AT(PluginArgumentDescription, typeCode, 8);
AT(PluginArgumentDescription, location, 11);

SIZE(PluginFunctionDescription, 61);
AT(PluginFunctionDescription, context, 8);
AT(PluginFunctionDescription, name, 12);
AT(PluginFunctionDescription, reserved, 50);

SIZE(PluginArgumentLocationEntry, 8);
AT(PluginArgumentLocationEntry, location, 4);

SIZE(PluginTextListEntry, 12);
AT(PluginTextListEntry, texts, 4);
AT(PluginTextListEntry, count, 8);

SIZE(PluginFunctionRecord, 90);
AT(PluginFunctionRecord, description, 0);
AT(PluginFunctionRecord, dispatch, 61);
AT(PluginFunctionRecord, locations, 65);
AT(PluginFunctionRecord, pathTemplate, 69);
AT(PluginFunctionRecord, method, 73);
AT(PluginFunctionRecord, flag, 77);
AT(PluginFunctionRecord, textLists, 78);
AT(PluginFunctionRecord, textListCount, 82);
AT(PluginFunctionRecord, customMethod, 86);

SIZE(PluginHandshake, 28);
AT(PluginHandshake, major, 0);
AT(PluginHandshake, minor, 4);
AT(PluginHandshake, patch, 8);
AT(PluginHandshake, callbacks, 12);
AT(PluginHandshake, plugin, 16);
AT(PluginHandshake, shortName, 20);
AT(PluginHandshake, apiDescription, 24);
