// The installation decision, run by Main once it holds a usable system directory.
#ifndef SETUP_DECISION_H
#define SETUP_DECISION_H

// Detects the card, stages and installs unless detectOnly, prints the outcome and returns
// the exit code. *restartNeeded is set when the installation needs a restart to finish, also
// where the exit code does not say so.
int DecideInstallation(const char* systemDir, int detectOnly, int* restartNeeded);

#endif
