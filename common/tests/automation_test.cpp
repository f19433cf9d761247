// The VARIANT owner and what a failed Invoke said, under Wine.
#include "common/win/automation.h"

#include <gtest/gtest.h>

#include <string>

namespace tq::win {
namespace {

// A server that leaves its exception info to be filled in when read.
HRESULT STDAPICALLTYPE FillInLater(EXCEPINFO* info) {
    info->scode = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 3021);
    info->bstrSource = SysAllocString(L"DAO.Recordset");
    info->bstrDescription = SysAllocString(L"No current record.");
    info->pfnDeferredFillIn = nullptr;
    return S_OK;
}

TEST(InvokeError, ADeferredExceptionIsFilledInBeforeItIsRead) {
    EXCEPINFO info{};
    info.pfnDeferredFillIn = FillInLater;
    const InvokeError error = TakeInvokeError(DISP_E_EXCEPTION, &info);
    EXPECT_EQ(error.description, L"No current record.");
    EXPECT_EQ(error.source, L"DAO.Recordset");
    EXPECT_EQ(error.code(), MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 3021));
    EXPECT_EQ(info.bstrDescription, nullptr) << "the strings are freed and not left to free twice";
    EXPECT_EQ(info.bstrSource, nullptr);
}

TEST(InvokeError, TheCodeIsTheExceptionsOwnElseTheHresult) {
    EXCEPINFO numbered{};
    numbered.wCode = 3045;
    EXPECT_EQ(TakeInvokeError(DISP_E_EXCEPTION, &numbered).code(), MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 3045));
    EXCEPINFO coded{};
    coded.scode = E_FAIL;
    EXPECT_EQ(TakeInvokeError(DISP_E_EXCEPTION, &coded).code(), E_FAIL);
    EXCEPINFO silent{};
    EXPECT_EQ(TakeInvokeError(DISP_E_EXCEPTION, &silent).code(), DISP_E_EXCEPTION);
    // Not an exception: its info is not read, whatever it holds.
    EXCEPINFO stray{};
    stray.scode = E_FAIL;
    stray.bstrDescription = SysAllocString(L"stray");
    const InvokeError plain = TakeInvokeError(DISP_E_MEMBERNOTFOUND, &stray);
    EXPECT_EQ(plain.code(), DISP_E_MEMBERNOTFOUND);
    EXPECT_TRUE(plain.description.empty());
    EXPECT_EQ(stray.bstrDescription, nullptr);
}

TEST(ErrorInfo, TheDescriptionIsTakenOnce) {
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    create->SetDescription(const_cast<LPOLESTR>(L"Файл занят"));
    IErrorInfo* info = nullptr;
    ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
    SetErrorInfo(0, info);
    info->Release();
    create->Release();
    EXPECT_EQ(TakeErrorInfoDescription(), L"Файл занят");
    EXPECT_EQ(TakeErrorInfoDescription(), L"");
}

TEST(Variant, CopiesOwnTheirTextAndMovesLeaveTheSourceEmpty) {
    Variant text = Variant::Text(std::wstring(L"a\0b", 3));
    ASSERT_EQ(SysStringLen(V_BSTR(text.get())), 3u) << "text is taken whole, NULs included";
    Variant copy = text;
    ASSERT_EQ(V_VT(copy.get()), VT_BSTR);
    EXPECT_NE(V_BSTR(copy.get()), V_BSTR(text.get()));
    copy = Variant::Long(5);
    EXPECT_EQ(V_VT(copy.get()), VT_I4);
    Variant moved = std::move(text);
    EXPECT_EQ(V_VT(moved.get()), VT_BSTR);
    EXPECT_EQ(V_VT(text.get()), VT_EMPTY);  // NOLINT: the moved-from state is the point
    EXPECT_EQ(V_VT(Variant::Dispatch(nullptr).get()), VT_EMPTY);
    EXPECT_EQ(V_ERROR(Variant::Missing().get()), DISP_E_PARAMNOTFOUND);
}

}  // namespace
}  // namespace tq::win
