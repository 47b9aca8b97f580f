#pragma once

#include "ZivraAudioPermission.h"

// The platform services an engine runs on: the real ones for
// ZivraAudio::shared(), fakes in unit tests.
struct ZivraAudioEnvironment {
    ZivraAudioPermission* permission = &ZivraAudioPermission::shared();
};
