// The scale's seven databases, their files and the caption of every column.
// All texts are code page 1251.
#pragma once
#include <string>

namespace tq::viewer {

enum ScaleDatabase {
    DbGoods = 0,
    DbUsers = 1,
    DbLabels = 2,
    DbHelp = 3,
    DbSells = 4,
    DbReports = 5,
    DbResources = 6,
};

constexpr int kDatabaseCount = 7;
constexpr int kFieldCount = 41;   // columns s00..s40
constexpr int kValueMax = 254;    // a value travels through 255-byte buffers
constexpr int kCaptionSlot = 255;

using CaptionTable = char[kDatabaseCount][kFieldCount][kCaptionSlot];

// FieldCaptions()[database][column]: the empty text marks a column the
// database does not use.
const CaptionTable& FieldCaptions();

bool IsDatabaseIndex(int db);
// The label of the database chooser, for example "Товары".
const char* ChooserLabel(int db);
// The file relative to the current directory, for example "Internal\TQScale.mdb".
const char* DatabaseFile(int db);
// The column whose text orders the database's results, or -1 for none.
int SortColumn(int db);
// The printf format that turns a numeric code into the text stored in s00.
const char* CodeFormat(int db);
// "s00".."s40", the name of column i of FieldsTable.
std::string ColumnName(int column);

}  // namespace tq::viewer
