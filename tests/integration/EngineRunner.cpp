// Runs Zivra's engine with the pitch shifted an octave up and reports
// "running" once it plays: a Zivra that can then be killed mid-run, or made to
// crash (abort) by a byte on its standard input.
#include "audio/ZivraAudio.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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
    QSocketNotifier crash(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&crash, &QSocketNotifier::activated, [&crash] {
        char byte = 0;
        if (read(STDIN_FILENO, &byte, 1) == 1) {
            std::abort();
        }
        crash.setEnabled(false); // no more input: nothing will ask for a crash
    });
    engine.setPitchCents(1200);
    engine.setPitchEnabled(true);
    return app.exec();
}
