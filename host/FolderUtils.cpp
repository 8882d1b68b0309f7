// Placeholder until the settings store lands.
#include "host/FolderUtils.h"
