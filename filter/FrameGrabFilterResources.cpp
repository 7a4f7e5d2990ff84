#include "filter/FrameGrabFilterResources.h"

#include "filter/FrameGrabFilterIds.h"

#ifdef _WIN32

void RegisterFrameGrabFilterResources() {}

#else

namespace {

// Positions and sizes in dialog units, as in FrameGrabFilter.rc.
const KelvoDialogControl kControls[] = {
    {IDC_GRAB_TIME, "EDIT", "", 99, 42, 40, 14},
    {IDC_GRAB_ENABLED, "EDIT", "", 99, 59, 40, 14},
    {-1, "STATIC", "Grab Time (sec)", 43, 46, 51, 8},
    {-1, "STATIC", "Grab Enabled (0 or 1)", 24, 61, 70, 8},
};

const KelvoDialogTemplate kDialogs[] = {
    {IDD_FRAMEGRABFILTER_PROPERTIES, "MS Shell Dlg", 8, 215, 128, kControls,
     static_cast<int>(sizeof(kControls) / sizeof(kControls[0]))},
};

const KelvoStringResource kStrings[] = {{IDS_FRAMEGRABFILTER_TITLE, "FrameGrabFilter"}};

}  // namespace

void RegisterFrameGrabFilterResources() {
  KelvoRegisterResources(kDialogs, 1, kStrings, 1);
}

#endif
