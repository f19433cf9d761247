// The stand-in's object model, as far as the data core uses DAO:
// DBEngine > Workspace (made by CreateWorkspace, or the default one behind
// DBEngine's own calls) > Database > QueryDef > Parameters,
// Database/QueryDef > Recordset > Fields > Field.
#pragma once
#include "tools/daosim/dispatch.h"

namespace daosim {

// A new DBEngine, holding its one reference.
DispObject* NewEngine();

}  // namespace daosim
