// The stand-in's object model, as far as the data core uses DAO:
// DBEngine > Workspaces > Workspace > Database > QueryDef > Parameters,
// Database/QueryDef > Recordset > Fields > Field, DBEngine > Errors > Error.
#pragma once
#include "tools/daosim/dispatch.h"

namespace daosim {

// A new DBEngine, holding its one reference.
DispObject* NewEngine();

}  // namespace daosim
