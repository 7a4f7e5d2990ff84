#pragma once

// Class and interface identifiers of the frame grab filter module.

#include "platform/Windows.h"

// The resource compiler (FrameGrabFilter.rc) reads only the resource
// identifiers below.
#ifndef RC_INVOKED
// {acdae7ff-59df-48ef-8f5b-6a85ca5f0e05}
DEFINE_GUID(CLSID_FrameGrabFilter, 0xacdae7ff, 0x59df, 0x48ef, 0x8f, 0x5b, 0x6a, 0x85, 0xca, 0x5f,
            0x0e, 0x05);
// {3aa1bfca-c161-4bb1-89af-5d844da8d9a3}
DEFINE_GUID(CLSID_FrameGrabFilterProperties, 0x3aa1bfca, 0xc161, 0x4bb1, 0x89, 0xaf, 0x5d, 0x84,
            0x4d, 0xa8, 0xd9, 0xa3);
// {8c486b02-b72a-4376-a246-60140d39a261}
DEFINE_GUID(IID_IFrameGrabFilter, 0x8c486b02, 0xb72a, 0x4376, 0xa2, 0x46, 0x60, 0x14, 0x0d, 0x39,
            0xa2, 0x61);
// {52d9c3c0-7bec-4ed5-83fc-4dff81dc9037}
DEFINE_GUID(IID_IFrameGrabStillSink, 0x52d9c3c0, 0x7bec, 0x4ed5, 0x83, 0xfc, 0x4d, 0xff, 0x81, 0xdc,
            0x90, 0x37);
// {53889c9a-3ebf-42ba-a546-04186d57bbe3}
DEFINE_GUID(IID_IFrameGrabStillOutput, 0x53889c9a, 0x3ebf, 0x42ba, 0xa5, 0x46, 0x04, 0x18, 0x6d,
            0x57, 0xbb, 0xe3);
#endif

// Resource identifiers of the property page.
#define IDD_FRAMEGRABFILTER_PROPERTIES 101
#define IDC_GRAB_TIME 1005
#define IDC_GRAB_ENABLED 1006
#define IDS_FRAMEGRABFILTER_TITLE 1015
