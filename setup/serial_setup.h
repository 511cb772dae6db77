// Setup: puts the Amiga side on an Amiga that has nothing of it yet, over the bare null-modem
// cable. The user is guided through message boxes to type commands on the Amiga; the PC pushes
// the files raw at 19200 bits per second, and copies the rest with the protocol once the
// server runs.
#pragma once

namespace dm {

// Runs the whole procedure on the calling thread; it tells the user every outcome itself.
void RunSerialSetup();

}  // namespace dm
