// Jet's error numbers, as the stand-in raises them. A failing call answers
// DISP_E_EXCEPTION with scode 0x800A0000 + number.
#pragma once
#include "tools/daosim/text.h"

namespace daosim {

enum ErrorNumber : int {
    kInvalidArgument = 3001,
    kTooManyTransactions = 3003,
    kTableExists = 3010,
    kTooManyTables = 3014,
    kNoEditInProgress = 3020,
    kNoCurrentRecord = 3021,
    kDuplicateKey = 3022,
    kFileNotFound = 3024,
    kReadOnly = 3027,
    kNoTransaction = 3034,
    kDiskError = 3043,
    kInvalidPath = 3044,
    kFileInUse = 3045,
    kRecordTooLarge = 3047,
    kCannotOpen = 3051,
    kLockCountExceeded = 3052,
    kNullKey = 3058,
    kTooFewParameters = 3061,
    kNotActionQuery = 3065,
    kSyntaxInExpression = 3075,
    kTableNotFound = 3078,
    kInvalidStatement = 3129,
    kSyntaxInFrom = 3131,
    kSyntaxInOrderBy = 3138,
    kFieldTooSmall = 3163,
    kRecordDeleted = 3167,
    kDatabaseExists = 3204,
    kInvalidOperation = 3219,
    kLocked = 3260,
    kNotSupported = 3251,
    kItemNotFound = 3265,
    kSyntaxInCreateTable = 3290,
    kRequired = 3314,
    kZeroLength = 3315,
    kNotUpdatable = 3326,
    kUnrecognisedFormat = 3343,
    kObjectInvalid = 3420,
};

// Success is number 0. The detail fills the '|' in the description.
struct Error {
    int number = 0;
    Text detail;
    bool failed() const { return number != 0; }
    explicit operator bool() const { return failed(); }
};

inline Error Fail(int number, Text detail = Text()) { return Error{number, std::move(detail)}; }

Text Description(const Error& error);

}  // namespace daosim
