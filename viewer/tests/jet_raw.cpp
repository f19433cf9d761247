#include "jet_raw.h"

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>

#include "common/cp1251.h"
#include "core/win/dispatch.h"

namespace tq::viewer::test {

namespace {

using dao::Object;
using dao::Variant;

std::wstring WideOfUtf8(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

// DAO's DBEngine on this thread, as the engine makes it.
class Dao {
public:
    Dao() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        CLSID clsid;
        IDispatch* engine = nullptr;
        if (SUCCEEDED(CLSIDFromProgID(L"DAO.DBEngine.36", &clsid)) &&
            SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                       reinterpret_cast<void**>(&engine))))
            engine_ = Object(&session_, "DBEngine", engine);
    }
    ~Dao() {
        engine_.Release();
        CoUninitialize();
    }
    Object Open(const std::string& path) {
        Variant name = Variant::Text(tq::Cp1251ToWide(path));
        return engine_.GetObject(L"OpenDatabase", "Database", {name.get()}, DISPATCH_METHOD);
    }
    Object Create(const std::string& path) {
        Variant name = Variant::Text(tq::Cp1251ToWide(path));
        Variant locale = Variant::Text(L";LANGID=0x0419;CP=1251;COUNTRY=0");
        return engine_.GetObject(L"CreateDatabase", "Database", {name.get(), locale.get()}, DISPATCH_METHOD);
    }

private:
    dao::Session session_;
    Object engine_;
};

}  // namespace

bool JetCreateWithTable(const std::string& path, const std::string& createTable) {
    Dao dao;
    Object database = dao.Create(path);
    if (!database) return false;
    Variant sql = Variant::Text(tq::Cp1251ToWide(createTable));
    const bool made = database.Method(L"Execute", {sql.get()});
    database.Method(L"Close");
    return made;
}

bool JetAppendRow(const std::string& path, const std::vector<std::pair<int, std::string>>& values) {
    Dao dao;
    Object database = dao.Open(path);
    if (!database) return false;
    Variant table = Variant::Text(L"FieldsTable");
    Object recordset = database.GetObject(L"OpenRecordset", "Recordset", {table.get()}, DISPATCH_METHOD);
    Object fields = recordset ? recordset.GetObject(L"Fields", "Fields") : Object();
    bool appended = fields && recordset.Method(L"AddNew");
    for (const auto& [column, utf8] : values) {
        if (!appended) break;
        wchar_t name[8];
        swprintf(name, 8, L"s%02d", column);
        Variant which = Variant::Text(name);
        Object field = fields.GetObject(L"Item", "Field", {which.get()});
        Variant value = Variant::Text(WideOfUtf8(utf8));
        appended = field && field.Put(L"Value", value.get());
    }
    appended = appended && recordset.Method(L"Update");
    if (recordset) recordset.Method(L"Close");
    database.Method(L"Close");
    return appended;
}

}  // namespace tq::viewer::test

#else

namespace tq::viewer::test {

bool JetCreateWithTable(const std::string&, const std::string&) { return false; }
bool JetAppendRow(const std::string&, const std::vector<std::pair<int, std::string>>&) { return false; }

}  // namespace tq::viewer::test

#endif
