#include "tests/audio/EngineTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <limits>

namespace zivra::audio {

namespace {

const QString presetsKey = QStringLiteral("velmora.zivra.presets");
const QString unreadableKey = QStringLiteral("velmora.zivra.presets.unreadable");

QSettings settings() {
    return QSettings(QStringLiteral("velmora"), QStringLiteral("zivra"));
}

QJsonObject record(const QString& name) {
    return QJsonObject{{"id", "3F2504E0-4F89-11D3-9A0C-0305E82C3301"},
                       {"name", name},
                       {"pitchEnabled", true},
                       {"pitchSemitones", -2},
                       {"pitchCents", -200},
                       {"pitchControlMode", "Semitones"},
                       {"removeVocalsEnabled", false},
                       {"volume", 0.5},
                       {"vocalRemovalMode", "Wide"},
                       {"vocalMono", 0.25},
                       {"vocalKaraoke", 0.75},
                       {"dualMonoOutput", false}};
}

QByteArray arrayOf(std::initializer_list<QJsonObject> records) {
    QJsonArray array;
    for (const QJsonObject& r : records) {
        array.append(r);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

class PresetsTest : public EngineTest {
protected:
    void store(const QByteArray& bytes) { settings().setValue(presetsKey, bytes); }
    QByteArray stored() { return settings().value(presetsKey).toByteArray(); }
};

TEST_F(PresetsTest, SavingTheSameNameReplacesInPlace) {
    ZivraAudio& audio = engine();
    audio.savePreset("Song A");
    audio.savePreset("Song B");
    const QUuid first = audio.presets()[0].id;
    audio.setVolume(0.3f);
    audio.savePreset("Song A");
    ASSERT_EQ(audio.presets().size(), 2);
    EXPECT_EQ(audio.presets()[0].name, "Song A");
    EXPECT_EQ(audio.presets()[0].volume, 0.3f);
    EXPECT_NE(audio.presets()[0].id, first);
    EXPECT_EQ(audio.presets()[1].name, "Song B");
    EXPECT_EQ(decodePresets(stored()), audio.presets());
}

// JSON has no form for a number that is not finite: such a list cannot be
// encoded, so the store keeps what it had and only the list in memory changes.
TEST_F(PresetsTest, SettingsThatCannotBeEncodedLeaveTheStoreAsItWas) {
    ZivraAudio& audio = engine();
    audio.savePreset("kept");
    const QByteArray before = stored();
    audio.setVolume(std::numeric_limits<float>::infinity());
    audio.savePreset("unencodable");
    EXPECT_EQ(audio.presets().size(), 2);
    EXPECT_EQ(stored(), before);
    audio.deletePreset(audio.presets()[0]);
    EXPECT_EQ(stored(), before);
    EXPECT_FALSE(settings().contains(unreadableKey));

    audio.deletePreset(audio.presets()[0]);
    ASSERT_TRUE(decodePresets(stored()));
    EXPECT_TRUE(decodePresets(stored())->isEmpty());
}

TEST_F(PresetsTest, NamesAreCaseSensitiveAndUntrimmed) {
    ZivraAudio& audio = engine();
    audio.savePreset("song");
    audio.savePreset("Song");
    audio.savePreset("  ");
    ASSERT_EQ(audio.presets().size(), 3);
    EXPECT_EQ(audio.presets()[2].name, "  ");
}

TEST_F(PresetsTest, EmptyNameChangesAndWritesNothing) {
    int notified = 0;
    QObject::connect(&engine(), &ZivraAudio::presetsChanged, [&] { ++notified; });
    engine().savePreset("");
    EXPECT_EQ(notified, 0);
    EXPECT_FALSE(settings().contains(presetsKey));
}

TEST_F(PresetsTest, SnapshotHoldsTheTenControls) {
    ZivraAudio& audio = engine();
    audio.setPitchControlMode(PitchControlMode::cents);
    audio.setPitchCents(-130);
    audio.setVocalRemovalMode(VocalRemovalMode::aggressive);
    audio.setDualMonoOutput(true);
    audio.savePreset("x");
    const SongPreset& p = audio.presets()[0];
    EXPECT_EQ(p.pitchCents, -130.0f);
    EXPECT_EQ(p.pitchSemitones, -1);
    EXPECT_EQ(p.pitchControlMode, PitchControlMode::cents);
    EXPECT_EQ(p.vocalRemovalMode, VocalRemovalMode::aggressive);
    EXPECT_EQ(p.vocalMono, 0.2f);
    EXPECT_EQ(p.vocalKaraoke, 1.0f);
    EXPECT_TRUE(p.dualMonoOutput);
    EXPECT_FALSE(p.pitchEnabled);
}

TEST_F(PresetsTest, DeletingClearsTheSelectionOnlyForTheLoadedPreset) {
    ZivraAudio& audio = engine();
    audio.savePreset("a");
    audio.savePreset("b");
    const SongPreset a = audio.presets()[0];
    const SongPreset b = audio.presets()[1];
    audio.loadPreset(a);
    audio.deletePreset(b);
    EXPECT_EQ(audio.selectedPresetID(), a.id);
    audio.deletePreset(a);
    EXPECT_FALSE(audio.selectedPresetID());
    EXPECT_TRUE(audio.presets().isEmpty());
    EXPECT_EQ(decodePresets(stored()), QList<SongPreset>{});
}

TEST_F(PresetsTest, LoadSelectsEvenADeletedPreset) {
    ZivraAudio& audio = engine();
    audio.savePreset("gone");
    const SongPreset gone = audio.presets()[0];
    audio.deletePreset(gone);
    audio.loadPreset(gone);
    EXPECT_EQ(audio.selectedPresetID(), gone.id);
    EXPECT_TRUE(audio.presets().isEmpty());
}

TEST_F(PresetsTest, LoadAssignsEachControlInOrderWithItsSideEffects) {
    ZivraAudio& audio = engine();
    QStringList events;
    const auto note = [&](const char* name) { return [&events, name] { events << name; }; };
    QObject::connect(&audio, &ZivraAudio::pitchEnabledChanged, note("pitchEnabled"));
    QObject::connect(&audio, &ZivraAudio::pitchControlModeChanged, note("pitchControlMode"));
    QObject::connect(&audio, &ZivraAudio::pitchCentsChanged, note("pitchCents"));
    QObject::connect(&audio, &ZivraAudio::pitchSemitonesChanged, note("pitchSemitones"));
    QObject::connect(&audio, &ZivraAudio::removeVocalsEnabledChanged, note("removeVocals"));
    QObject::connect(&audio, &ZivraAudio::volumeChanged, note("volume"));
    QObject::connect(&audio, &ZivraAudio::vocalRemovalModeChanged, note("mode"));
    QObject::connect(&audio, &ZivraAudio::vocalMonoChanged, note("mono"));
    QObject::connect(&audio, &ZivraAudio::vocalKaraokeChanged, note("karaoke"));
    QObject::connect(&audio, &ZivraAudio::dualMonoOutputChanged, note("dualMono"));
    QObject::connect(&audio, &ZivraAudio::selectedPresetIDChanged, note("selected"));
    audio.broadcastStateHandler = [&] { events << "broadcast"; };

    SongPreset preset;
    preset.id = QUuid::createUuid();
    preset.pitchControlMode = PitchControlMode::cents;
    preset.pitchCents = 150;
    preset.pitchSemitones = 2;
    preset.volume = 0.8f;
    preset.dualMonoOutput = true;
    audio.loadPreset(preset);
    EXPECT_EQ(events, (QStringList{"pitchEnabled",   "broadcast",      "pitchControlMode",
                                   "pitchCents",     "pitchSemitones", "broadcast",
                                   "pitchSemitones", "removeVocals",   "mode",
                                   "mono",           "karaoke",        "broadcast",
                                   "broadcast",      "volume",         "mode",
                                   "mono",           "karaoke",        "broadcast",
                                   "mono",           "karaoke",        "dualMono",
                                   "selected"}));
    EXPECT_EQ(audio.pitchCents(), 150.0f);
    EXPECT_EQ(audio.pitchSemitones(), 2);
}

TEST_F(PresetsTest, BlendWeightsAreAppliedAfterTheMode) {
    SongPreset preset;
    preset.removeVocalsEnabled = true;
    preset.vocalRemovalMode = VocalRemovalMode::wide;
    preset.vocalMono = 0.27f;
    preset.vocalKaraoke = 0.75f;
    engine().loadPreset(preset);
    EXPECT_EQ(engine().vocalRemovalMode(), VocalRemovalMode::custom);
    EXPECT_EQ(engine().vocalMono(), 0.27f);
}

TEST_F(PresetsTest, LoadingStartsAndStopsTheEngine) {
    SongPreset on;
    on.pitchEnabled = true;
    engine().loadPreset(on);
    settle();
    EXPECT_TRUE(engine().isEngineRunning());
    EXPECT_EQ(server->count("create graph"), 1);
    engine().loadPreset(SongPreset{});
    EXPECT_FALSE(engine().isEngineRunning());
    EXPECT_TRUE(server->nothingLeft());
}

TEST_F(PresetsTest, StoredPresetsAreReadAtCreation) {
    QJsonObject other = record("Other");
    other["id"] = "00000000-0000-0000-0000-0000000000AB";
    other["extra"] = "ignored";
    store(arrayOf({record("Mine"), other}));
    ASSERT_EQ(engine().presets().size(), 2);
    const SongPreset& p = engine().presets()[0];
    EXPECT_EQ(p.id, QUuid::fromString(QStringLiteral("3f2504e0-4f89-11d3-9a0c-0305e82c3301")));
    EXPECT_EQ(p.name, "Mine");
    EXPECT_EQ(p.pitchSemitones, -2);
    EXPECT_EQ(p.vocalRemovalMode, VocalRemovalMode::wide);
    EXPECT_EQ(engine().presets()[1].name, "Other");
}

TEST_F(PresetsTest, StoredFormIsACompactArrayOfTwelveKeys) {
    engine().savePreset("Key");
    const QJsonDocument document = QJsonDocument::fromJson(stored());
    ASSERT_TRUE(document.isArray());
    const QJsonObject object = document.array()[0].toObject();
    EXPECT_EQ(object.keys().size(), 12);
    EXPECT_EQ(object["id"].toString().size(), 36);
    EXPECT_EQ(object["pitchControlMode"].toString(), "Semitones");
    EXPECT_EQ(object["vocalRemovalMode"].toString(), "Off");
    EXPECT_FALSE(stored().contains('\n'));
}

TEST_F(PresetsTest, OneBadRecordMakesTheWholeStoreUnreadable) {
    QJsonObject missing = record("b");
    missing.remove("dualMonoOutput");
    QJsonObject badMode = record("c");
    badMode["vocalRemovalMode"] = "karaoke";
    QJsonObject fraction = record("d");
    fraction["pitchSemitones"] = 2.5;
    QJsonObject wrongType = record("e");
    wrongType["pitchEnabled"] = "true";
    QJsonObject badId = record("f");
    badId["id"] = "{3F2504E0-4F89-11D3-9A0C-0305E82C3301}";
    for (const QByteArray& bytes :
         {arrayOf({record("a"), missing}), arrayOf({badMode}), arrayOf({fraction}),
          arrayOf({wrongType}), arrayOf({badId}), QByteArray("[{"), QByteArray("{}")}) {
        EXPECT_FALSE(decodePresets(bytes)) << bytes.toStdString();
    }
    store(arrayOf({record("a"), missing}));
    EXPECT_TRUE(engine().presets().isEmpty());
}

TEST_F(PresetsTest, UnreadableStoreIsKeptBeforeItIsReplaced) {
    QJsonObject missing = record("b");
    missing.remove("dualMonoOutput");
    const QByteArray damaged = arrayOf({record("a"), missing});
    store(damaged);
    engine().savePreset("new");
    EXPECT_EQ(settings().value(unreadableKey).toByteArray(), damaged);
    ASSERT_TRUE(decodePresets(stored()));
    EXPECT_EQ(decodePresets(stored())->size(), 1);

    engine().savePreset("newer");
    EXPECT_EQ(settings().value(unreadableKey).toByteArray(), damaged);

    store("not json at all");
    engine().deletePreset(engine().presets()[0]);
    EXPECT_EQ(settings().value(unreadableKey).toByteArray(), damaged)
        << "an earlier copy is never overwritten";
}

TEST_F(PresetsTest, ReadableStoreIsNotCopied) {
    store(arrayOf({record("a")}));
    engine().savePreset("b");
    EXPECT_FALSE(settings().contains(unreadableKey));
}

} // namespace

} // namespace zivra::audio
