#include "filter/FrameGrabFilterSetup.h"

#include "filter/CFrameGrabFilter.h"
#include "filter/CFrameGrabFilterProperties.h"

namespace {

// Both pins take any video; the media-type checks decide the details.
const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &GUID_NULL}};

const AMOVIESETUP_PIN kPins[] = {
    {const_cast<LPWSTR>(KELVO_W("Input")), FALSE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 1,
     kPinTypes},
    {const_cast<LPWSTR>(KELVO_W("Output")), FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1,
     kPinTypes},
};

}  // namespace

// MERIT_DO_NOT_USE: automatic graph building never inserts the filter.
const AMOVIESETUP_FILTER g_FrameGrabFilterSetup = {
    &CLSID_FrameGrabFilter, KELVO_W("KelvoFrameGrabFilter"), MERIT_DO_NOT_USE, 2, kPins};

CFactoryTemplate g_Templates[] = {
    {KELVO_W("KelvoFrameGrabFilter"), &CLSID_FrameGrabFilter, CFrameGrabFilter::CreateInstance,
     nullptr, &g_FrameGrabFilterSetup},
    {KELVO_W("KelvoFrameGrabFilter Properties"), &CLSID_FrameGrabFilterProperties,
     CFrameGrabFilterProperties::CreateInstance, nullptr, nullptr},
};

int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
