#include <windows.h>
#include <commctrl.h>

#include "viewer_windows.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    tq::viewer::EnterScaleFolderFromCommandLine();
    tq::viewer::RunViewerMainDialog(instance);
    return 0;
}
