// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#if defined(__SANITIZE_ADDRESS__)
// Marks GLib's quark table blocks alive now (the one in use and the ones
// GLib left behind when the table grew) as no leak. Runs by itself at exit;
// exposed for the tests.
void ExcludeGLibQuarkTablesFromLeakCheck();
#endif
