// The dialog that asks how many test records to generate; it returns the
// count, and the main dialog does the work once it has closed. Hosted by
// CreateTestDbWindow (win/create_test_db_window.cpp).
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "message_kind.h"

namespace tq::viewer {

class CreateTestDbView {
public:
    virtual ~CreateTestDbView() = default;
    virtual void SetCountText(const std::string& text) = 0;
    virtual std::string CountText() = 0;
    virtual bool Message(const std::string& text, MessageKind kind) = 0;
    virtual void Finish(int result) = 0;
};

class CCreateTestDBDlg {
public:
    explicit CCreateTestDBDlg(CreateTestDbView& view) : view_(view) {}

    void OnInitDialog();
    void OnCreate();
    void OnCancel();
    // The count asked for, once "Создать" was confirmed; none otherwise.
    std::optional<int32_t> Result() const { return result_; }

private:
    CreateTestDbView& view_;
    std::optional<int32_t> result_;
};

// A signed 32-bit number with optional blanks around it; 0 for anything else.
int32_t ParseRecordCount(const std::string& text);

}  // namespace tq::viewer
