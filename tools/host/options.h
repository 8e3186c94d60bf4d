// The command lines of the tool: options "--name VALUE" and positional
// arguments. Strict on purpose: an unknown or repeated option, a missing
// value or a value that looks like an option is an error, not a guess.
#pragma once

#include <map>
#include <string>
#include <vector>

struct OptionSpec {
    const char* name;  // "--primary"
    bool repeatable;
};

struct CommandLine {
    bool help = false;
    std::vector<std::string> positionals;
    std::map<std::string, std::vector<std::string>> values;

    bool Has(const std::string& name) const { return values.count(name) != 0; }
    // The value of a non-repeatable option, or fallback.
    std::string Get(const std::string& name, const std::string& fallback = "") const {
        const auto it = values.find(name);
        return it == values.end() ? fallback : it->second.front();
    }
};

// Parses argv (the arguments after the command's name). positionalNames
// ("OUT") sets how many positionals are expected; with help set the rest is
// not checked.
CommandLine ParseCommandLine(int argc, char** argv, const std::vector<OptionSpec>& options,
                             const std::vector<std::string>& positionalNames);
