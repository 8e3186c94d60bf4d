#include "options.h"

#include "tool_error.h"

CommandLine ParseCommandLine(int argc, char** argv, const std::vector<OptionSpec>& options,
                             const std::vector<std::string>& positionalNames) {
    CommandLine line;
    for (int i = 0; i < argc; ++i)
        if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
            line.help = true;
            return line;
        }
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() > 1 && arg[0] == '-') {
            const OptionSpec* spec = nullptr;
            for (const OptionSpec& option : options)
                if (arg == option.name) spec = &option;
            if (!spec) Fail("unknown option " + arg + " (see --help)");
            if (i + 1 >= argc) Fail(arg + " needs a value");
            const std::string value = argv[++i];
            // A forgotten value must not swallow the next option.
            if (value.empty() || value[0] == '-') Fail(arg + " needs a value, not '" + value + "'");
            auto& slot = line.values[arg];
            if (!slot.empty() && !spec->repeatable) Fail(arg + " is given twice");
            slot.push_back(value);
            continue;
        }
        line.positionals.push_back(arg);
    }
    if (line.positionals.size() != positionalNames.size()) {
        std::string expected;
        for (const std::string& name : positionalNames) expected += (expected.empty() ? "" : " ") + name;
        if (line.positionals.size() > positionalNames.size())
            Fail("unexpected argument '" + line.positionals[positionalNames.size()] + "' (expected " + expected + ")");
        Fail("missing " + positionalNames[line.positionals.size()] + " (expected " + expected + ")");
    }
    return line;
}
