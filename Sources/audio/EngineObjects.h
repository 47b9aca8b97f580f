#pragma once

#include "ZivraAudioEnvironment.h"

// Everything the engine holds of the platform: its services and the objects
// of the current audio graph.
struct EngineObjects {
    ZivraAudioEnvironment environment;
};
