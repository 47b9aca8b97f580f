#pragma once

#include "platform/playerscript/PlayerScripts.h"
#include "tests/handoff/QStringPrinting.h"

#include <map>
#include <string>
#include <vector>

namespace zivra::handoff {

// Player scripts that record every source and answer from a table.
class FakePlayerScripts final : public zivra::platform::playerscript::PlayerScripts {
public:
    std::vector<QString> sources;
    // Answers by exact source; sources not in the table get `otherwise`.
    std::map<QString, std::optional<zivra::platform::playerscript::ScriptOutcome>> answers;
    std::optional<zivra::platform::playerscript::ScriptOutcome> otherwise =
        zivra::platform::playerscript::ScriptOutcome{};
    QStringList running;
    std::vector<std::string>* journal = nullptr;

    std::optional<zivra::platform::playerscript::ScriptOutcome>
    run(const QString& source) override {
        sources.push_back(source);
        if (journal) {
            journal->push_back("script");
        }
        const auto answer = answers.find(source);
        return answer != answers.end() ? answer->second : otherwise;
    }

    QStringList runningApplications() override { return running; }

    static zivra::platform::playerscript::ScriptOutcome text(const QString& value) {
        return {true, value, 0, {}};
    }

    static zivra::platform::playerscript::ScriptOutcome failure(int number) {
        return {false, std::nullopt, number, QStringLiteral("failed (%1)").arg(number)};
    }
};

} // namespace zivra::handoff
