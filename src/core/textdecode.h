#pragma once

#include "nqtypes.h"

#include <QString>

// Bytes from the web as text: UTF-8 when they are valid UTF-8, otherwise
// Windows-1252 (which every byte sequence is).
QString DecodeWebText(const String& bytes);

// Text as UTF-8 bytes, the form in which texts travel between the controls
// and the run.
String ToUtf8(const QString& text);
