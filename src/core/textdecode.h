// The one bridge between the web's 8-bit text and QString.

#pragma once

#include "nqtypes.h"

#include <QString>

// The one bridge between 8-bit String and QString. A String is taken as
// UTF-8 when it is valid UTF-8 and as Windows-1252 otherwise (which every
// byte sequence is): the user's texts are UTF-8, and what pages write may be
// either. Text goes back as UTF-8.
QString DecodeWebText(const String& bytes);
String ToUtf8(const QString& text);
