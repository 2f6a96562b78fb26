#include "app/ui/new_version_check.h"

bool RunNewVersionCheckAtStart() { return true; }
