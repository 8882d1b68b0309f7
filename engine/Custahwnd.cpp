// Placeholder until the engine lands.
#include "engine/Custahwnd.h"
