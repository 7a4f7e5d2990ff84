#pragma once

// The one place that chooses between the Windows SDK and our own
// declarations of the COM, media-graph and Win32 names. Everything in
// platform/ and filter/ includes this header instead of <windows.h>.

#if defined(_WIN32) && defined(RC_INVOKED)
// The resource compiler needs only the resource constants.
#include <windows.h>
#elif defined(_WIN32)
// In dependency order: strmif.h needs the COM declarations, amvideo.h and
// dvdmedia.h need REFERENCE_TIME from strmif.h; vfwmsgs.h has the media
// result codes.
// clang-format off
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <strmif.h>
#include <uuids.h>
#include <amvideo.h>
#include <dvdmedia.h>
#include <vfwmsgs.h>
#include <evcode.h>
// clang-format on
#include <cstring>
#define KELVO_W(s) L##s
#else
#include "platform/win32/ComInterfaces.h"
#include "platform/win32/Guids.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"
#endif
