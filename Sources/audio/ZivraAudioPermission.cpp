#include "audio/ZivraAudioPermission.h"

namespace zivra::audio {

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

} // namespace zivra::audio
