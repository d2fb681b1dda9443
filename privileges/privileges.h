// Enabling the privileges of the process token.
#ifndef PRESIZER_PRIVILEGES_PRIVILEGES_H_
#define PRESIZER_PRIVILEGES_PRIVILEGES_H_

// Turns on every privilege the process token holds, for the rest of the process. The tool does not
// pick the one it needs: whatever the user's token carries is enabled. Silent: a token that cannot
// be opened, read or adjusted leaves the run going, and shows only later, as a refused fast path.
// Only a failure to obtain memory passes through, with the token already closed.
void EnablePrivileges();

#endif  // PRESIZER_PRIVILEGES_PRIVILEGES_H_
