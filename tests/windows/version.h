// The version block of a file as Windows reads it (GetFileVersionInfoW,
// VerQueryValueW): the fixed file information, the translations, and the
// strings asked for by key from the table of the first translation.
#pragma once

#include <stddef.h>

#include "json.h"
#include "walk.h"

// Writes {"fixed": {...}, "translations": [[language, codePage], ...],
// "stringTable": "000004B0", "strings": [{"key", "value"}, ...]}; a string
// the block does not hold has the value null.
void writeVersion(const wchar_t* path, const wchar_t* const* keys, size_t count, Json& out, Problems& problems);
