#pragma once

#include <angelscript.h>

// The script language's `string`: an immutable text value (literals, comparison, length), so
// string literals and host functions taking names work while no script can grow memory with it.
namespace scriptrt {

// Registers the type and its literal factory; returns a negative AngelScript code on failure.
int registerScriptString(AngelScript::asIScriptEngine *engine);

} // namespace scriptrt
