#pragma once
// The command line of every qeladmin subcommand, judged by one parser before
// the command touches anything: positional words, `--name VALUE` (or
// `--name=VALUE`) options and `--name` switches. A word "--" ends the options;
// "-" alone is a positional word (the password's place in `login`).
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

struct OptionSpec {
    std::string Name;         // without the leading "--"
    bool TakesValue = false;  // --name VALUE, else a switch
};

// Wrong words on the command line: the message says which; the caller adds
// its usage and ends with status 2.
class EUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ParsedArgs {
    std::vector<std::string> Positional;
    std::map<std::string, std::string> Values;  // options with a value, last one given
    std::vector<std::pair<std::string, std::string>> InOrder;  // options with a value as typed
    std::set<std::string> Switches;

    bool Has(const std::string& name) const { return Values.count(name) || Switches.count(name); }
    std::optional<std::string> Value(const std::string& name) const;
    // The option's value as a whole number in [min, max]; EUsageError otherwise.
    std::optional<long> Number(const std::string& name, long min, long max) const;
};

// Throws EUsageError for an option not in `specs`, a missing value, or a
// positional count outside [minPositional, maxPositional].
ParsedArgs ParseArgs(const std::vector<std::string>& words, const std::vector<OptionSpec>& specs,
                     std::size_t minPositional, std::size_t maxPositional);

// Whether the words ask for help or the version ("--help", "-h", "--version")
// before any "--"; these print and end with status 0 whatever else is typed.
bool AsksForHelp(const std::vector<std::string>& words);
bool AsksForVersion(const std::vector<std::string>& words);
