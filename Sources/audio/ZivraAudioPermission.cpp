#include "audio/ZivraAudioPermission.h"

ZivraAudioPermission& ZivraAudioPermission::shared() {
    static ZivraAudioPermission instance;
    return instance;
}

bool ZivraAudioPermission::preflightAudioCapture() const {
    return true;
}

void ZivraAudioPermission::requestAudioCapturePermission(std::function<void(bool)> completion) {
    completion(true);
}
