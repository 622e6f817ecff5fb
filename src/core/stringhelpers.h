#pragma once

#include "nqtypes.h"

// 1-based position of the last Ch in Text, 0 when there is none.
Integer LastCharPos(char Ch, const String& Text);
