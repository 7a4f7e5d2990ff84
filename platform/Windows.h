#pragma once

// The one place that chooses between the Windows SDK and our own
// declarations of the COM, media-graph and Win32 names. Everything in
// platform/ and filter/ includes this header instead of <windows.h>.

#ifdef _WIN32
#include <amvideo.h>
#include <dvdmedia.h>
#include <ole2.h>
#include <olectl.h>
#include <strmif.h>
#include <uuids.h>
#include <windows.h>
#define KELVO_W(s) L##s
#else
#include "platform/win32/ComInterfaces.h"
#include "platform/win32/Guids.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"
#endif
