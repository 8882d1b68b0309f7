// Placeholder until the engine lands.
#include "engine/WaveOutApi.h"
