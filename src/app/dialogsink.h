// The message routine's modal boxes for the desktop program.

#pragma once

// Routes the library's messages to modal boxes centred on the screen.
void InstallDialogMessageSink();
