#include "dao_dbengine.h"

#include <ocidl.h>
#include <oleauto.h>

namespace tq::viewer::dao {

namespace {

const wchar_t kRuntimeKey[] = L"mbmabptebkjcdlgtjmskjwtsdhjbmkmwtrak";

}  // namespace

IDispatch* CreateDbEngine(const wchar_t* progId) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(progId, &clsid))) return nullptr;
    IDispatch* engine = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&engine));
    if (hr != CLASS_E_NOTLICENSED) return SUCCEEDED(hr) ? engine : nullptr;
    IClassFactory2* factory = nullptr;
    if (FAILED(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory2,
                                reinterpret_cast<void**>(&factory))))
        return nullptr;
    BSTR key = SysAllocString(kRuntimeKey);
    hr = factory->CreateInstanceLic(nullptr, nullptr, IID_IDispatch, key, reinterpret_cast<void**>(&engine));
    SysFreeString(key);
    factory->Release();
    return SUCCEEDED(hr) ? engine : nullptr;
}

Object OpenDbEngineObject(Session* session, bool ace) {
    const wchar_t* const progIds[] = {L"DAO.DBEngine.36", L"DAO.DBEngine.120"};
    for (const wchar_t* progId : progIds) {
        if (ace && progId == progIds[0]) continue;
        if (IDispatch* engine = CreateDbEngine(progId)) return Object(session, "DBEngine", engine);
    }
    return Object();
}

}  // namespace tq::viewer::dao
