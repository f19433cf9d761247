// Late-bound calls on automation objects: names resolved once per kind of
// object with GetIDsOfNames, arguments passed in the order a script writes
// them, and every failure decoded into a number and a text instead of an
// exception. Each object owns its IDispatch reference.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <map>
#include <string>
#include <vector>

#include "common/win/automation.h"

namespace tq::viewer::dao {

using tq::win::Variant;

// Why the last call failed: the engine's own error number where it gave one
// (a Jet error such as 3021), else the HRESULT; and its description.
struct CallError {
    long number = 0;
    std::string text;  // code page 1251
};
// "ошибка DAO 3045: Could not use …", as the engine's messages give it.
std::string Said(const CallError& error);

// A value as the program holds it: code page 1251, a Null as the empty text.
std::string ValueText(const VARIANT& value);

// What the objects of one engine share: the ids of names by kind of object,
// the last error, and how many calls were made.
class Session {
public:
    // The id of name on objects of this kind, resolved at its first use.
    bool IdOf(const char* kind, IDispatch* object, const wchar_t* name, DISPID* id);
    void Fail(long number, std::string text);
    const CallError& LastError() const { return last_; }
    long calls = 0;

private:
    std::map<std::wstring, DISPID> ids_;  // "kind.name", lower case
    CallError last_;
};

class Object {
public:
    Object() = default;
    Object(Session* session, const char* kind, IDispatch* dispatch) : session_(session), kind_(kind), dispatch_(dispatch) {}
    ~Object() { Release(); }
    Object(Object&& other) noexcept { *this = std::move(other); }
    Object& operator=(Object&& other) noexcept;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    explicit operator bool() const { return dispatch_ != nullptr; }
    void Release();
    // The object itself as an argument of a call (VT_DISPATCH, a reference
    // of its own).
    Variant AsArgument() const;

    // flags is DISPATCH_METHOD or DISPATCH_PROPERTYGET; args in written order.
    bool Call(const wchar_t* name, WORD flags, std::vector<VARIANT*> args, VARIANT* result);
    bool Method(const wchar_t* name, std::vector<VARIANT*> args = {}, VARIANT* result = nullptr) {
        return Call(name, DISPATCH_METHOD, std::move(args), result);
    }
    bool Get(const wchar_t* name, VARIANT* result, std::vector<VARIANT*> args = {}) {
        return Call(name, DISPATCH_PROPERTYGET, std::move(args), result);
    }
    bool Put(const wchar_t* name, VARIANT* value);
    // A property or method whose result is another object, of the given kind.
    Object GetObject(const wchar_t* name, const char* kind, std::vector<VARIANT*> args = {},
                     WORD flags = DISPATCH_PROPERTYGET | DISPATCH_METHOD);
    bool GetLong(const wchar_t* name, long* value);
    // Records a failure its caller found in what the object gave (a value
    // of the wrong type or shape), so that the last error is this one.
    void Fail(long number, std::string text) {
        if (session_) session_->Fail(number, std::move(text));
    }
    bool GetBool(const wchar_t* name, bool* value);

private:
    bool Invoke(const wchar_t* name, WORD flags, std::vector<VARIANT> reversed, bool put, VARIANT* result);

    Session* session_ = nullptr;
    const char* kind_ = "";
    IDispatch* dispatch_ = nullptr;
};

}  // namespace tq::viewer::dao
