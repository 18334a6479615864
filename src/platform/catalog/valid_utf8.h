#pragma once
// Text that the library stores and hands out is always valid UTF-8, so that
// no document built from it can fail to serialise: the catalog repairs what
// it reads and writes with the library's one check (library/utf8_text.h).
#include "library/utf8_text.h"
