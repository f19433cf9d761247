// LMT520EU: the printer service wizard. CWizardApp enables the hosting of
// ActiveX controls and runs the main dialog once.
#include <windows.h>
#include <ole2.h>
#include <commctrl.h>

#include "printertest/core/resource.h"
#include "wizard_dlg.h"

namespace {

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

// The system's ATL library hosts the control (the AtlAxWin window class).
class AtlHost {
public:
    AtlHost() : module_(LoadLibraryW(L"atl.dll")) {
        if (!module_) return;
        auto init = reinterpret_cast<AtlAxWinInitFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "AtlAxWinInit")));
        getControl_ = reinterpret_cast<AtlAxGetControlFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "AtlAxGetControl")));
        if (!init || !init()) getControl_ = nullptr;
    }
    ~AtlHost() {
        if (module_) FreeLibrary(module_);
    }
    AtlHost(const AtlHost&) = delete;
    AtlHost& operator=(const AtlHost&) = delete;
    AtlAxGetControlFn getControl() const { return getControl_; }

private:
    HMODULE module_;
    AtlAxGetControlFn getControl_ = nullptr;
};

class CWizardApp {
public:
    int Run(HINSTANCE instance) {
        if (FAILED(OleInitialize(nullptr))) return 1;
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        {
            AtlHost atl;
            lmt::WizardWindow wizard(instance, atl.getControl());
            wizard.DoModal(instance, IDD_WIZARD, nullptr);
        }
        OleUninitialize();
        return 0;
    }
};

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    CWizardApp app;
    return app.Run(instance);
}
