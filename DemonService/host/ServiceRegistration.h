#pragma once

// Registration of "Orvel" with the service control manager.

// Creates the service (own process, interactive, demand start, LocalSystem, quoted image path). True
// when it exists afterwards: an existing registration is left untouched. A registration created here also
// gets the service manager's recovery plan (host/RecoveryActions.h). A failed creation is logged.
bool InstallService();
// Stops and deletes the service. True when it is gone or marked for deletion, and when there was
// nothing to remove; false when the manager or the service could not be opened for deletion, or the
// deletion failed.
bool RemoveService();
// Starts the service when it is stopped (waiting for a pending stop first, as long as the stop makes
// progress within its wait hint) and waits while it is start-pending, as long as it makes progress. False
// only when it gave up on a stop that was still pending (or whose state could no longer be read): such a
// service is never started. Logs nothing.
bool StartServiceAndWait();
