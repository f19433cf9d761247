// The record editor: one record as 41 caption/edit pairs, saved on close
// after a question, deleted on request. Texts are code page 1251. Hosted by
// EditRecordWindow (win/edit_record_window.cpp).
#pragma once
#include <cstdint>
#include <string>

#include "core/catalogue.h"
#include "core/record.h"
#include "message_kind.h"

namespace tq::viewer {

class EditView {
public:
    virtual ~EditView() = default;
    virtual void SetCaption(int field, const std::string& text) = 0;
    virtual void SetFieldText(int field, const std::string& text) = 0;
    virtual std::string FieldText(int field) = 0;
    virtual void EnableField(int field, bool enable) = 0;
    virtual bool Message(const std::string& text, MessageKind kind) = 0;
    // Ends the modal run with IDOK (1) or IDCANCEL (2).
    virtual void Finish(int result) = 0;
};

class CEditRecordDlg {
public:
    // newRecord: every field empty and the code editable; a save that would
    // go over a record already stored under the typed code is refused.
    CEditRecordDlg(EditView& view, int database, int32_t code, bool newRecord = false);
    ~CEditRecordDlg() { m_record.Clear(); }

    void OnInitDialog();
    // The close box, Alt+F4, the system menu's Close.
    void OnClose();
    // Enter (IDOK) and Esc (IDCANCEL): once a field changed they ask as the
    // close box does, lest the change go without a word; else they close.
    void OnOkOrCancel(int result);
    void OnDelete();

private:
    bool Changed();
    bool IsStoredCode(const std::string& typed);

    EditView& m_view;
    int m_nDatabase;
    int32_t m_nCode;
    bool m_newRecord;
    CNVRecord m_record;
    std::string loaded_[kFieldCount];  // the values as the editor showed them
};

}  // namespace tq::viewer
