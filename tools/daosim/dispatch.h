// The late-bound plumbing every stand-in object shares: names to dispatch
// ids without regard to case, arguments taken in call order (rgvarg holds
// them reversed, by value or by reference, omitted ones as
// VT_ERROR/DISP_E_PARAMNOTFOUND), failures raised as DAO raises them, the
// call log and the fault scenario.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/daosim/database.h"
#include "tools/daosim/errors.h"
#include "tools/daosim/scenario.h"

namespace daosim {

// What one DBEngine and everything made from it share.
struct EngineState {
    EngineOptions options;
};

// The process's log file and scenario, from DAOSIM_LOG and DAOSIM_SCENARIO.
class Runtime {
public:
    static Runtime& Get();
    const Scenario& scenario();  // read again when the file changed
    void Log(const std::string& line);
    bool logging() const { return log_ != INVALID_HANDLE_VALUE; }

private:
    Runtime();
    std::wstring scenarioPath_;
    FILETIME scenarioTime_{};
    Scenario scenario_;
    HANDLE log_ = INVALID_HANDLE_VALUE;  // lives as long as the process
};

Text ToText(BSTR b);
BSTR ToBstr(TextView text);
std::string VariantText(const VARIANT& v);

// A call's arguments in call order, dereferenced.
class Args {
public:
    explicit Args(const DISPPARAMS* params);
    ~Args();
    Args(const Args&) = delete;
    Args& operator=(const Args&) = delete;

    HRESULT status() const { return status_; }  // bad named arguments
    size_t count() const { return args_.size(); }
    bool Has(size_t i) const;
    const VARIANT& At(size_t i) const { return args_[i]; }
    const VARIANT* putValue() const { return hasPut_ ? &put_ : nullptr; }
    // The argument converted, or the default when omitted; a wrong type
    // answers DISP_E_TYPEMISMATCH and a missing required one DISP_E_PARAMNOTFOUND.
    HRESULT GetText(size_t i, Text* out) const;
    HRESULT GetLong(size_t i, long fallback, long* out) const;
    HRESULT GetBool(size_t i, bool fallback, bool* out) const;
    std::string LogText() const;
    UINT badIndex() const { return badIndex_; }

private:
    std::vector<VARIANT> args_;
    VARIANT put_;
    bool hasPut_ = false;
    HRESULT status_ = S_OK;
    mutable UINT badIndex_ = 0;
};

// A call's result: a COM status, or a Jet error raised as DISP_E_EXCEPTION.
struct Outcome {
    HRESULT hr = S_OK;
    Error error;
    Outcome() = default;
    Outcome(HRESULT h) : hr(h) {}  // NOLINT: a bare HRESULT is an outcome
    Outcome(Error e) : error(std::move(e)) {}  // NOLINT
};

// What a member is in DAO's type library, which decides the invoke flags it
// answers to (see Fits in dispatch.cpp).
enum MemberKind {
    kMethod,    // called with DISPATCH_METHOD
    kProperty,  // read only
    kWritable,  // a property also written, with DISPATCH_PROPERTYPUT
};

struct Member {
    const wchar_t* name;
    DISPID id;
    MemberKind kind;
};

class DispObject : public IDispatch {
public:
    DispObject(std::shared_ptr<EngineState> state, const char* kind, const Member* members, size_t count);
    virtual ~DispObject();

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* error, UINT* argError) override;

    // The member's work, with `result` already VariantInit'ed and the flags
    // known to fit the member: anything but a write is a call or a read.
    virtual Outcome Call(DISPID id, WORD flags, Args& args, VARIANT* result) = 0;
    std::string LogName() const;

protected:
    const std::shared_ptr<EngineState>& state() const { return state_; }

private:
    const Member* Find(DISPID id) const;  // null when not ours
    // A Jet error as the caller gets it: DISP_E_EXCEPTION with the exception
    // info filled, or as the scenario asks.
    HRESULT Raise(const Error& error, EXCEPINFO* info) const;

    LONG refs_ = 1;
    std::shared_ptr<EngineState> state_;
    const char* kind_;
    const Member* members_;
    size_t count_;
    unsigned serial_;
};

// Objects and locks alive, for DllCanUnloadNow.
extern LONG g_alive;

// A property write: DISPATCH_PROPERTYPUT with the value as the named
// argument DISPID_PROPERTYPUT.
bool IsPut(WORD flags, const Args& args);
void SetBool(VARIANT* v, bool value);
void SetLong(VARIANT* v, long value);
void SetShort(VARIANT* v, short value);
void SetText(VARIANT* v, TextView text);
void SetValue(VARIANT* v, const Value& value);
// Hands a new object (its one reference) to the caller.
void SetObject(VARIANT* v, DispObject* object);
// A field or parameter value from a caller: text, Null, Empty (Null) or
// anything that converts to text.
HRESULT ValueOf(const VARIANT& v, Value* out);

}  // namespace daosim
