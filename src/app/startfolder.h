// Where the desktop program works: where it was started, or its folder among the documents.

#pragma once

#include <QString>

// The program's folder among the user's documents: "Netquarry" in the
// desktop's documents folder.
QString DocumentsWorkFolder();

// Makes that folder when missing and works in it from now on. Returns an
// empty text, or what went wrong; the working folder is then unchanged.
QString EnterDocumentsWorkFolder();
