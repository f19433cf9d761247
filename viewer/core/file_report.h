// What a database file is made of, read without changing it: the engine's
// facts about the file, the fields and indexes of FieldsTable and the names
// of its other tables. For `tqdb inspect`, the first look at a scale's
// folder. Texts are code page 1251.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace tq::viewer {

struct InspectedField {
    std::string name;
    std::string type;  // DAO: number and name ("10 Text"); SQLite: the declared type
    std::string size;  // characters a text field holds; empty where the engine has none
    bool required = false;
};

struct InspectedIndex {
    std::string name;
    bool primary = false;
    bool unique = false;
    int required = -1;  // 1 or 0; -1 where the engine has no such flag
    std::vector<std::string> fields;
};

struct Inspection {
    // One fact a line, in order: ("version", "4.0"), ...
    std::vector<std::pair<std::string, std::string>> facts;
    bool hasTable = false;  // FieldsTable is there
    std::vector<InspectedField> fields;
    std::vector<InspectedIndex> indexes;
    std::vector<std::string> otherTables;  // user tables besides FieldsTable
};

// Reads the file at path (code page 1251) with the engine its signature asks
// for, opened for reading only. False, with *why in one line, when it is
// missing, no database, or cannot be read.
bool InspectDatabase(const std::string& path, Inspection* out, std::string* why);

// The same through SQLite and through DAO; the DAO one fails outside Windows.
bool InspectSqliteFile(const std::string& path, Inspection* out, std::string* why);
bool InspectJetFile(const std::string& path, Inspection* out, std::string* why);

// A Jet collating order by its number: "Cyrillic" for 1049; empty when unknown.
const char* CollatingOrderName(long order);
// A DAO field type by its number: "Text" for 10; empty when unknown.
const char* DaoTypeName(long type);

}  // namespace tq::viewer
