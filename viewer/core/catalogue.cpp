#include "catalogue.h"

#include <cassert>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/cp1251.h"

namespace tq::viewer {

namespace {

struct Caption {
    int column;
    const char* utf8;
};

struct DatabaseEntry {
    const char* chooserUtf8;
    const char* file;
    int sortColumn;
    const char* codeFormat;
    DbCode fileUnreadable;
    DbCode objectFailed;
    DbCode notSaved;
    const char* notOpenUtf8;
    const Caption* captions;
    int captionCount;
};

const Caption kGoods[] = {
    {0, "Код(*)"}, {1, "ШК"}, {2, "Наименование"}, {3, "Тип"}, {4, "Цена"},
    {5, "Группа 1"}, {6, "Группа 2"}, {7, "Группа 3"}, {8, "Группа 4"},
    {11, "Срок годности"}, {12, "Дата реализации"}, {13, "Этикетка"},
    {14, "Блокировка продаж"}, {15, "Изменение цены"}, {21, "Сертификат"},
    {22, "Вес тары 1"}, {23, "Вес тары 2"}, {24, "Вес тары 3"},
    {25, "Код наименования тары 1"}, {26, "Код наименования тары 2"},
    {27, "Код наименования тары 3"}, {28, "Код краткого наименования"},
    {29, "Код краткого описания"}, {30, "Код картинки"}, {31, "Код файла описания"},
};
const Caption kUsers[] = {
    {0, "Код"}, {1, "Имя(*)"}, {2, "Права"}, {3, "Пароль"}, {23, "Печать Код=0"},
    {24, "Изменение цены"}, {25, "Изменение тары"}, {26, "Изменение типа"},
    {27, "Печать Цена=0"}, {28, "Печать Вес<НмПВ"}, {29, "Автопечать"},
    {30, "Печать копий"}, {31, "Редактирование тары"},
};
const Caption kLabels[] = {
    {0, "Код"}, {1, "Название(*)"}, {2, "Двумерный ШК"}, {21, "Файл проекта"},
};
const Caption kHelp[] = {
    {0, "Код"}, {1, "Название(*)"}, {21, "Файл текста"}, {22, "Файл картинки"}, {23, "Файл ролика"},
};
const Caption kSells[] = {
    {0, "Код(*)"}, {1, "Дата"}, {2, "Номер весов"}, {3, "Код пользователя"}, {4, "Код товара"},
    {21, "Время"}, {22, "Этикетка"}, {23, "Вес"}, {24, "Цена"}, {25, "Стоимость"},
};
const Caption kReports[] = {
    {0, "Код"}, {1, "От(*)"}, {2, "До"}, {21, "Дата"}, {22, "Время"}, {23, "Код пользователя"},
};
const Caption kResources[] = {
    {0, "Код(*)"}, {1, "Тип"}, {21, "Ресурс"},
};

#define ENTRY(label, file, sort, format, unreadable, objectFailed, notSaved, notOpen, table) \
    {label, file, sort, format, unreadable, objectFailed, notSaved, notOpen, table, \
     static_cast<int>(sizeof(table) / sizeof(table[0]))}

const DatabaseEntry kDatabases[kDatabaseCount] = {
    ENTRY("Товары", "Internal\\TQScale.mdb", -1, "%1lu", kGoodsFileUnreadable, kGoodsObjectFailed, kGoodsNotSaved,
          "БД ТОВАРОВ не открыта!", kGoods),
    ENTRY("Пользователи", "Internal\\Users.mdb", 1, "%1lu", kUsersFileUnreadable, kUsersObjectFailed, kUsersNotSaved,
          "БД ПОЛЬЗОВАТЕЛЕЙ не открыта!", kUsers),
    ENTRY("Этикетки", "Internal\\Labels.mdb", 1, "%1lu", kLabelsFileUnreadable, kLabelsObjectFailed, kLabelsNotSaved,
          "БД ЭТИКЕТОК не открыта!", kLabels),
    ENTRY("Помощь", "Internal\\Help.mdb", 0, "%1lu", kHelpFileUnreadable, kHelpObjectFailed, kHelpNotSaved,
          "БД ПОМОЩИ не открыта!", kHelp),
    ENTRY("Продажи", "Internal\\Sells.mdb", 0, "%08lu", kSellsFileUnreadable, kSellsObjectFailed, kSellsNotSaved,
          "БД ПРОДАЖ не открыта!", kSells),
    ENTRY("Отчеты", "Internal\\Reports.mdb", 1, "%1lu", kReportsFileUnreadable, kReportsObjectFailed, kReportsNotSaved,
          "БД ОТЧЕТОВ не открыта!", kReports),
    ENTRY("Ресурсы", "Internal\\Resources.mdb", 0, "%1lu", kResourcesFileUnreadable, kResourcesObjectFailed,
          kResourcesNotSaved, "БД РЕСУРСОВ не открыта!", kResources),
};
#undef ENTRY

// The captions in code page 1251, made once from the UTF-8 source above.
struct Tables {
    CaptionTable captions = {};
    std::string chooser[kDatabaseCount];
    std::string notOpen[kDatabaseCount];

    Tables() {
        for (int db = 0; db < kDatabaseCount; ++db) {
            const DatabaseEntry& e = kDatabases[db];
            chooser[db] = tq::Utf8ToCp1251(e.chooserUtf8);
            notOpen[db] = tq::Utf8ToCp1251(e.notOpenUtf8);
            for (int k = 0; k < e.captionCount; ++k) {
                const std::string text = tq::Utf8ToCp1251(e.captions[k].utf8);
                std::strncpy(captions[db][e.captions[k].column], text.c_str(), kCaptionSlot - 1);
            }
        }
    }
};

const Tables& GetTables() {
    static const Tables tables;
    return tables;
}

// The index of a database the caller knows to be one of the seven.
int CheckedIndex(int db) {
    assert(IsDatabaseIndex(db));
    return IsDatabaseIndex(db) ? db : DbGoods;
}

}  // namespace

const CaptionTable& FieldCaptions() { return GetTables().captions; }

bool IsDatabaseIndex(int db) { return db >= 0 && db < kDatabaseCount; }

const char* ChooserLabel(int db) { return IsDatabaseIndex(db) ? GetTables().chooser[db].c_str() : ""; }

const char* DatabaseFile(int db) { return IsDatabaseIndex(db) ? kDatabases[db].file : ""; }

int SortColumn(int db) { return IsDatabaseIndex(db) ? kDatabases[db].sortColumn : -1; }

const char* CodeFormat(int db) { return IsDatabaseIndex(db) ? kDatabases[db].codeFormat : "%1lu"; }

DbCode FileUnreadableCode(int db) { return kDatabases[CheckedIndex(db)].fileUnreadable; }

DbCode ObjectFailedCode(int db) { return kDatabases[CheckedIndex(db)].objectFailed; }

DbCode NotSavedCode(int db) { return kDatabases[CheckedIndex(db)].notSaved; }

const char* NotOpenMessage(int db) { return GetTables().notOpen[CheckedIndex(db)].c_str(); }

std::string ColumnName(int column) {
    char name[8];
    std::snprintf(name, sizeof name, "s%02u", static_cast<unsigned>(column));
    return name;
}

}  // namespace tq::viewer
