#include "core/ListCommand.h"

#include "core/PageImport.h"
#include "text/Text.h"

namespace vantrel {

namespace {

std::string IntervalChoices() {
    std::string text;
    for (const IntervalChoice& choice : kIntervals)
        text += (text.empty() ? "" : ", ") + std::to_string(choice.minutes);
    return text;
}

}  // namespace

int IntervalIndexOfMinutes(int minutes) {
    for (int i = 0; i < kIntervalCount; ++i)
        if (kIntervals[static_cast<size_t>(i)].minutes == minutes) return i;
    return -1;
}

ListCommand ParseListCommand(const std::vector<std::u16string>& args) {
    ListCommand command;
    const auto fail = [&command](std::string why) {
        command.error = std::move(why);
        return command;
    };
    bool labelGiven = false, intervalGiven = false;
    const auto set = [&command](ListCommand::Kind kind) {
        if (command.kind != ListCommand::Kind::None && command.kind != kind) return false;
        command.kind = kind;
        return true;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::u16string& arg = args[i];
        const bool takesValue = arg == u"--add" || arg == u"--label" || arg == u"--interval" ||
                                arg == u"--import" || arg == u"--export";
        if (takesValue && i + 1 >= args.size()) return fail(ToUtf8(arg) + " needs a value");
        const std::u16string value = takesValue ? args[++i] : std::u16string();
        bool single = true;
        if (arg == u"--add") {
            single = set(ListCommand::Kind::Add);
            command.url = Trim(value);
        } else if (arg == u"--label") {
            labelGiven = true;
            command.label = Trim(value);
        } else if (arg == u"--interval") {
            intervalGiven = true;
            const int32_t minutes = IntFromText(value, -1);
            command.intervalIndex = IntervalIndexOfMinutes(minutes);
            if (command.intervalIndex < 0)
                return fail("--interval: " + ToUtf8(value) + " is not one of " + IntervalChoices() +
                            " (minutes)");
        } else if (arg == u"--import" || arg == u"--export") {
            single = set(arg == u"--import" ? ListCommand::Kind::Import : ListCommand::Kind::Export);
            command.path = value;
        } else if (arg == u"--status") {
            single = set(ListCommand::Kind::Status);
        } else if (arg == u"--json") {
            command.json = true;
        }
        if (!single) return fail("give one of --add, --import, --export and --status at a time");
    }
    if ((labelGiven || intervalGiven) && command.kind != ListCommand::Kind::Add)
        return fail("--label and --interval go with --add");
    if (command.json && command.kind != ListCommand::Kind::Status) return fail("--json goes with --status");
    if (command.kind == ListCommand::Kind::Add && !IsWebAddress(command.url))
        return fail("--add: not a web address: " + ToUtf8(command.url));
    if ((command.kind == ListCommand::Kind::Import || command.kind == ListCommand::Kind::Export) &&
        command.path.empty())
        return fail("--import and --export need a file name");
    if (command.kind == ListCommand::Kind::Add && command.label.empty()) command.label = command.url;
    return command;
}

}  // namespace vantrel
