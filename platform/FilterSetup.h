#pragma once

// Registration records a module declares for its filters: name, merit, pins
// and the media types each pin handles.

#include "platform/Windows.h"

#ifndef _WIN32
typedef struct _REGPINTYPES {
  const CLSID* clsMajorType;
  const CLSID* clsMinorType;
} REGPINTYPES;

// The same field types as the Windows SDK's record (strName is not const
// there either).
typedef struct _REGFILTERPINS {
  LPWSTR strName;
  BOOL bRendered;
  BOOL bOutput;
  BOOL bZero;
  BOOL bMany;
  const CLSID* clsConnectsToFilter;
  LPCWSTR strConnectsToPin;
  UINT nMediaTypes;
  const REGPINTYPES* lpMediaType;
} REGFILTERPINS;

#define MERIT_PREFERRED 0x800000
#define MERIT_NORMAL 0x600000
#define MERIT_UNLIKELY 0x400000
#define MERIT_DO_NOT_USE 0x200000
#endif

typedef REGPINTYPES AMOVIESETUP_MEDIATYPE;
typedef REGFILTERPINS AMOVIESETUP_PIN;

typedef struct _AMOVIESETUP_FILTER {
  const CLSID* clsID;
  LPCWSTR strName;
  DWORD dwMerit;
  UINT nPins;
  const AMOVIESETUP_PIN* lpPin;
} AMOVIESETUP_FILTER;
