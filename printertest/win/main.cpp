// LMT520EU: the printer service wizard. CWizardApp enables the hosting of
// ActiveX controls and runs the main dialog once.
#include <windows.h>
#include <ole2.h>
#include <commctrl.h>

#include "printertest/core/resource.h"
#include "wizard_dlg.h"

namespace {

using AtlAxWinInitFn = BOOL(WINAPI*)();

// The system's ATL library hosts the control (the AtlAxWin window class).
class AtlHost {
public:
    AtlHost() : module_(LoadLibraryW(L"atl.dll")) {
        if (!module_) return;
        auto init = reinterpret_cast<AtlAxWinInitFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "AtlAxWinInit")));
        if (!init || !init()) return;
        hosting_.createControl = reinterpret_cast<decltype(hosting_.createControl)>(
            reinterpret_cast<void*>(GetProcAddress(module_, "AtlAxCreateControl")));
        hosting_.getControl = reinterpret_cast<decltype(hosting_.getControl)>(
            reinterpret_cast<void*>(GetProcAddress(module_, "AtlAxGetControl")));
    }
    ~AtlHost() {
        if (module_) FreeLibrary(module_);
    }
    AtlHost(const AtlHost&) = delete;
    AtlHost& operator=(const AtlHost&) = delete;
    const tq::lmt::AtlHosting& hosting() const { return hosting_; }

private:
    HMODULE module_;
    tq::lmt::AtlHosting hosting_;
};

class CWizardApp {
public:
    int Run(HINSTANCE instance) {
        if (FAILED(OleInitialize(nullptr))) return 1;
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        {
            AtlHost atl;
            tq::lmt::WizardWindow wizard(instance, atl.hosting());
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
