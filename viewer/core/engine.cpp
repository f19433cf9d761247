#include "engine.h"

#include <cstring>

#include "common/cp1251.h"
#include "file_path.h"

namespace tq::viewer {

namespace {

enum class FileKind { Unknown, Sqlite, Jet, Ace };

FileKind KindOfHead(const char* head, size_t got) {
    if (got >= 16 && std::memcmp(head, "SQLite format 3", 16) == 0) return FileKind::Sqlite;
    if (got >= 20 && std::memcmp(head + 4, "Standard Jet DB", 16) == 0) return FileKind::Jet;
    if (got >= 20 && std::memcmp(head + 4, "Standard ACE DB", 16) == 0) return FileKind::Ace;
    return FileKind::Unknown;
}

FileKind Signature(const std::string& path) {
    char head[20] = {};
    return KindOfHead(head, ReadFileHead(path, head, sizeof head));
}

std::string KindName(FileKind kind) {
    switch (kind) {
    case FileKind::Sqlite: return "SQLite";
    case FileKind::Jet: return "Jet";
    case FileKind::Ace: return "ACE";
    case FileKind::Unknown: break;
    }
    return std::string();
}

}  // namespace

std::string DatabaseKind(const std::string& path) { return KindName(Signature(path)); }

std::string DatabaseKindUtf8(const std::string& path) {
    char head[20] = {};
    return KindName(KindOfHead(head, ReadFileHeadUtf8(path, head, sizeof head)));
}

bool HasAceSignature(const std::string& path) { return Signature(path) == FileKind::Ace; }

std::unique_ptr<DbEngine> OpenDbEngine(const std::string& path, std::string* why) {
    switch (Signature(path)) {
    case FileKind::Sqlite:
        return OpenSqliteEngine(path, why);
    case FileKind::Jet:
    case FileKind::Ace:
        return OpenDaoEngine(path, why);
    case FileKind::Unknown:
        break;
    }
    if (why) *why = tq::Cp(CanOpenForReading(path) ? "не база данных весов (ни SQLite, ни Access)" : "файла нет");
    return nullptr;
}

#ifndef _WIN32
// Access files need the DAO engine of a Windows machine with Jet or ACE; the
// native build has none, so opening one fails like any unreadable database.
std::unique_ptr<DbEngine> OpenDaoEngine(const std::string&, std::string* why) {
    if (why) *why = tq::Cp("файл Access (Jet): открывается через DAO, в сборке для Windows (tqdb.exe)");
    return nullptr;
}
bool CreateJetDatabase(const std::string&) { return false; }
#endif

}  // namespace tq::viewer
