// The machine-wide lock that keeps installations and removals one at a time: a second run
// waits for the first, and one that waits too long gives up having changed nothing.
#ifndef SETUP_LOCK_H
#define SETUP_LOCK_H

// A named mutex in the global namespace, so that runs in every session (an agent's service,
// an administrator's console, a remote desktop) share it.
#define SETUP_LOCK_NAME "Global\\KTA.TVX2.Setup"
// How long a run waits for another before it gives up with EXIT_INSTALL_IN_PROGRESS.
#define SETUP_LOCK_WAIT_MINUTES 20UL
#define SETUP_LOCK_WAIT_MS (SETUP_LOCK_WAIT_MINUTES * 60UL * 1000UL)

// Takes the lock, first without waiting; when another run holds it, says so once and waits.
// 1: the run may go on (the lock is held, or could not be had at all and counts as free);
// 0: another run held it for the whole wait.
int AcquireSetupLock(void);
// Releases the lock and closes its handle; does nothing when none is open.
void ReleaseSetupLock(void);

#endif
