// Runs Zivra's engine with the pitch shifted an octave up and reports
// "running" once it plays: a Zivra that can then be killed mid-run.
#include "audio/ZivraAudio.h"

#include <QCoreApplication>

#include <cstdio>

using zivra::audio::ZivraAudio;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ZivraAudio& engine = ZivraAudio::shared();
    QObject::connect(&engine, &ZivraAudio::isEngineRunningChanged, [](bool running) {
        if (running) {
            std::puts("running");
            std::fflush(stdout);
        }
    });
    engine.setPitchCents(1200);
    engine.setPitchEnabled(true);
    return app.exec();
}
