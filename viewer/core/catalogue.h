// The scale's seven databases: their files, order, codes and messages, and
// the caption of every column. All texts are code page 1251.
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

// The results of the data-access operations that answer with a code: 0 for
// success, else one of these, whose numbers never change (the scale's
// programs and service notes know them).
enum DbCode : int {
    kDbDone = 0,
    kResourcesObjectFailed = 2001,  // DbOpen: the recordset object was not made
    kGoodsObjectFailed = 2002,
    kUsersObjectFailed = 2003,
    kLabelsObjectFailed = 2004,
    kHelpObjectFailed = 2005,
    kUserNameEmpty = 2007,  // DbSave of a user: the name (s01) is empty
    kGoodsNotSaved = 2009,  // DbSave: the record was not stored
    kUsersNotSaved = 2010,
    kLabelsNotSaved = 2011,
    kHelpNotSaved = 2012,
    kResourcesFileUnreadable = 2013,  // DbOpen: no path, or the file cannot be read
    kGoodsFileUnreadable = 2014,
    kUsersFileUnreadable = 2015,
    kLabelsFileUnreadable = 2016,
    kHelpFileUnreadable = 2017,
    kUserPasswordBad = 2018,  // DbSave of a user: the password (s03) is empty, not digits, or reserved
    kSellsObjectFailed = 2019,
    kSellsFileUnreadable = 2020,
    kReportsObjectFailed = 2021,
    kReportsFileUnreadable = 2022,
    kSellsNotSaved = 2023,
    kReportsNotSaved = 2024,
    kResourcesNotSaved = 2025,
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
// What DbOpen answers when the database's file cannot be read, and when its
// recordset object was not made; what DbSave answers when the record was not stored.
DbCode FileUnreadableCode(int db);
DbCode ObjectFailedCode(int db);
DbCode NotSavedCode(int db);
// What the viewer says of a database that did not open, for example
// "БД ТОВАРОВ не открыта!".
const char* NotOpenMessage(int db);
// "s00".."s40", the name of column i of FieldsTable.
std::string ColumnName(int column);

}  // namespace tq::viewer
