#pragma once
// The start-up hook of the new-version check: runs before the main window exists and decides
// whether start-up goes on. Until the check itself is built it lets every start go on.



// True when the program should go on to create the main window; false when the user chose to
// end it (to install a newer version).
bool RunNewVersionCheckAtStart();
