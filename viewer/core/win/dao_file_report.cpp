// tqdb inspect on an Access file: what DAO says of the file and of the
// table FieldsTable, read from Database.TableDefs with the file opened for
// reading only. Nothing here writes; the lock file a shared open makes is
// Jet's own and goes when the file is closed.
#include <windows.h>
#include <oleauto.h>

#include "common/cp1251.h"
#include "dao_dbengine.h"
#include "dispatch.h"
#include "engine.h"
#include "file_report.h"

namespace tq::viewer {

namespace {

using dao::Object;
using dao::Variant;

// TableDefAttributeEnum: Jet's own tables, and the hidden ones it makes for
// temporary use, are not the scale's.
const long dbSystemObject = static_cast<long>(0x80000002);
const long dbHiddenObject = 1;

using dao::Said;

bool GetText(Object& object, const wchar_t* name, std::string* text) {
    Variant value;
    if (!object.Get(name, value.get())) return false;
    *text = dao::ValueText(*value);
    return true;
}

// Each item of the owner's collection, in order; false when the collection,
// an item or `read` of one fails. The kinds name the collection and its
// items as the session keeps their names' ids: each kind its own.
template <typename Read>
bool ForEachItem(Object& owner, const wchar_t* collection, const char* collectionKind, const char* kind, Read read) {
    Object items = owner.GetObject(collection, collectionKind);
    long count = 0;
    if (!items || !items.GetLong(L"Count", &count)) return false;
    for (long i = 0; i < count; ++i) {
        Variant which = Variant::Long(i);
        Object item = items.GetObject(L"Item", kind, {which.get()});
        if (!item || !read(item)) return false;
    }
    return true;
}

bool ReadField(Object& field, InspectedField* out) {
    long type = 0, size = 0;
    if (!GetText(field, L"Name", &out->name) || !field.GetLong(L"Type", &type) || !field.GetLong(L"Size", &size) ||
        !field.GetBool(L"Required", &out->required))
        return false;
    const char* name = DaoTypeName(type);
    out->type = std::to_string(type) + (*name ? std::string(" ") + name : std::string());
    out->size = std::to_string(size);
    return true;
}

bool ReadIndex(Object& index, InspectedIndex* out) {
    bool required = false;
    if (!GetText(index, L"Name", &out->name) || !index.GetBool(L"Primary", &out->primary) ||
        !index.GetBool(L"Unique", &out->unique) || !index.GetBool(L"Required", &required))
        return false;
    out->required = required ? 1 : 0;
    return ForEachItem(index, L"Fields", "IndexFields", "IndexField", [&](Object& field) {
        std::string name;
        if (!GetText(field, L"Name", &name)) return false;
        out->fields.push_back(name);
        return true;
    });
}

bool ReadTable(Object& table, Inspection* out) {
    const bool fields = ForEachItem(table, L"Fields", "TableFields", "TableField", [&](Object& field) {
        out->fields.emplace_back();
        return ReadField(field, &out->fields.back());
    });
    return fields && ForEachItem(table, L"Indexes", "Indexes", "Index", [&](Object& index) {
        out->indexes.emplace_back();
        return ReadIndex(index, &out->indexes.back());
    });
}

bool ReadDatabase(Object& database, Inspection* out) {
    std::string version;
    long order = 0;
    if (!GetText(database, L"Version", &version) || !database.GetLong(L"CollatingOrder", &order)) return false;
    const char* orderName = CollatingOrderName(order);
    out->facts.push_back({tq::Cp("версия"), version});
    out->facts.push_back({tq::Cp("порядок сортировки"), std::to_string(order) + (*orderName ? std::string(" ") + orderName : "")});
    const bool tables = ForEachItem(database, L"TableDefs", "TableDefs", "TableDef", [&](Object& table) {
        std::string name;
        long attributes = 0;
        if (!GetText(table, L"Name", &name) || !table.GetLong(L"Attributes", &attributes)) return false;
        if (_stricmp(name.c_str(), "FieldsTable") == 0) {
            out->hasTable = true;
            return ReadTable(table, out);
        }
        if (!(attributes & (dbSystemObject | dbHiddenObject)) && _strnicmp(name.c_str(), "MSys", 4) != 0)
            out->otherTables.push_back(name);
        return true;
    });
    return tables;
}

// OpenDatabase(Name, Options, ReadOnly) on the default workspace.
Object OpenReadOnly(Object& dbEngine, const std::string& path, bool exclusive) {
    Variant name = Variant::Text(tq::Cp1251ToWide(path));
    Variant options = Variant::Bool(exclusive);
    Variant readOnly = Variant::Bool(true);
    return dbEngine.GetObject(L"OpenDatabase", "Database", {name.get(), options.get(), readOnly.get()},
                              DISPATCH_METHOD);
}

}  // namespace

bool InspectJetFile(const std::string& path, Inspection* out, std::string* why) {
    dao::ComApartment apartment;  // first in, last out
    if (!apartment.usable()) {
        *why = tq::Cp("COM не запускается");
        return false;
    }
    dao::Session session;
    Object dbEngine = dao::OpenDbEngineObject(&session, HasAceSignature(path));
    if (!dbEngine) {
        *why = tq::Cp("нет DAO: для .mdb нужен DAO 3.6 (dao360.dll), для .accdb — 32-битный Access Database Engine");
        return false;
    }
    // Shared and read-only, as the engine opens a write-protected file.
    // Where Jet cannot make its lock file (read-only media, a folder without
    // write rights) no shared open works; exclusive and read-only needs none.
    bool exclusive = false;
    Object database = OpenReadOnly(dbEngine, path, false);
    if (!database) {
        const dao::CallError shared = session.LastError();
        exclusive = true;
        database = OpenReadOnly(dbEngine, path, true);
        if (!database) {
            *why = Said(shared);
            return false;
        }
    }
    out->facts.push_back({tq::Cp("вид"), HasAceSignature(path) ? "Access (ACE)" : "Access (Jet)"});
    out->facts.push_back({tq::Cp("открыт"), tq::Cp(exclusive ? "монопольно, только чтение (файл блокировки рядом не создаётся)"
                                                             : "совместно, только чтение")});
    const bool read = ReadDatabase(database, out);
    if (!read) *why = Said(session.LastError());
    database.Method(L"Close");
    return read;
}

}  // namespace tq::viewer
