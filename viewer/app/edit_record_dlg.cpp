#include "edit_record_dlg.h"

#include <cstring>

#include "common/cp1251.h"
#include "core/catalogue.h"
#include "core/data_access.h"

namespace tq::viewer {

namespace {

const int kIdOk = 1;
const int kIdCancel = 2;

std::string Cut(const std::string& text) { return text.size() > kValueMax ? text.substr(0, kValueMax) : text; }

}  // namespace

CEditRecordDlg::CEditRecordDlg(EditView& view, int database, int32_t code, bool newRecord)
    : m_view(view), m_nDatabase(database), m_nCode(newRecord ? 0 : code), m_newRecord(newRecord) {
    m_record.Clear();
}

void CEditRecordDlg::OnInitDialog() {
    CNVRecord record;
    const bool known = IsDatabaseIndex(m_nDatabase);
    if (known) DbFindByCode(m_nDatabase, &record, m_nCode);
    for (int i = 0; i < kFieldCount; ++i) {
        // Without a database there is nothing to show and nothing to edit.
        const char* caption = known ? FieldCaptions()[m_nDatabase][i] : "";
        char value[kValueMax + 1];
        record.GetFieldText(value, i);
        m_view.SetCaption(i, caption);
        m_view.SetFieldText(i, value);
        loaded_[i] = value;
        m_view.EnableField(i, caption[0] != '\0');
    }
    m_view.EnableField(0, m_newRecord && known);  // a stored record's code is never editable
}

void CEditRecordDlg::OnClose() {
    // Disabled edits are read too: columns the dialog does not offer keep
    // the values that were loaded.
    for (int i = 0; i < kFieldCount; ++i) m_record.SetFieldText(Cut(m_view.FieldText(i)).c_str(), i);
    if (m_view.Message(tq::Cp("Сохранить изменения?"), MessageKind::Question)) {
        FieldBlock block;
        char value[kValueMax + 1];
        m_record.GetFieldText(value, 0);
        if (m_newRecord && IsDatabaseIndex(m_nDatabase) && IsStoredCode(value)) {
            m_view.Message(tq::Cp("Запись с кодом «") + value + tq::Cp("» уже есть: новая запись её не заменит"),
                          MessageKind::Error);
            return;
        }
        SetBlockCode(block, value);
        for (int i = 1; i < kFieldCount; ++i) {
            m_record.GetFieldText(value, i);
            SetBlockSlot(block, i, value);
        }
        if (IsDatabaseIndex(m_nDatabase) && DbSave(m_nDatabase, &block) != 0) {
            m_view.Message(tq::Cp("Ошибка при сохранении записи!"), MessageKind::Error);
            return;  // the editor stays open with the edits, to be corrected or dropped
        }
    }
    m_view.Finish(kIdCancel);
}

// Whether a record is stored under the code as a save would store it.
bool CEditRecordDlg::IsStoredCode(const std::string& typed) {
    uint32_t code = 0;
    CNVRecord stored;
    return IsLookupCode(m_nDatabase, SavedCode(m_nDatabase, typed), &code) &&
           DbFindByCode(m_nDatabase, &stored, static_cast<int32_t>(code)) && !stored.Value(0).empty();
}

bool CEditRecordDlg::Changed() {
    for (int i = 0; i < kFieldCount; ++i)
        if (Cut(m_view.FieldText(i)) != loaded_[i]) return true;
    return false;
}

void CEditRecordDlg::OnOkOrCancel(int result) {
    if (Changed()) OnClose();
    else m_view.Finish(result);
}

void CEditRecordDlg::OnDelete() {
    if (!m_view.Message(tq::Cp("Удалить запись?"), MessageKind::Question)) return;
    const bool deleted = m_nCode != 0 && IsDatabaseIndex(m_nDatabase) && DbDeleteByCode(m_nDatabase, m_nCode);
    if (!deleted) m_view.Message(tq::Cp("Ошибка при удалении записи!"), MessageKind::Error);
    m_view.Finish(kIdOk);
}

}  // namespace tq::viewer
