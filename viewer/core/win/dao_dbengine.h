// DAO's DBEngine as every user of DAO here makes it: COM for the calling
// thread, then the engine by its ProgID, DAO 3.6 first, else ACE.
#pragma once
#include <windows.h>

#include "dispatch.h"

namespace tq::viewer::dao {

// COM for the engine's thread, apartment-threaded, undone when the engine goes.
class ComApartment {
public:
    ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    // A thread already in the multithreaded apartment can still call DAO.
    bool usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT hr_;
};

// DBEngine by its ProgID; where the class asks for a licence, through
// IClassFactory2 with DAO's runtime key. Null when there is none.
IDispatch* CreateDbEngine(const wchar_t* progId);

// DBEngine of DAO 3.6, else of ACE; ACE alone for .accdb files.
Object OpenDbEngineObject(Session* session, bool ace);

}  // namespace tq::viewer::dao
