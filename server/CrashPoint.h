#pragma once

// Test hook for the crash tests: when the environment variable
// MIVRA_SERVER_CRASH_AT names this point, the process kills itself with
// SIGKILL right here, exactly as a `kill -9` would at that moment. Unset (the
// normal case) it costs one comparison.
void crashPoint(const char *name);
