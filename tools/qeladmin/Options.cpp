#include "tools/qeladmin/Options.h"

#include <charconv>

namespace {

const OptionSpec* Find(const std::vector<OptionSpec>& specs, const std::string& name) {
    for (const OptionSpec& s : specs)
        if (s.Name == name) return &s;
    return nullptr;
}

bool AsksFor(const std::vector<std::string>& words, std::initializer_list<const char*> names) {
    for (const std::string& w : words) {
        if (w == "--") return false;
        for (const char* n : names)
            if (w == n) return true;
    }
    return false;
}

}  // namespace

std::optional<std::string> ParsedArgs::Value(const std::string& name) const {
    const auto it = Values.find(name);
    if (it == Values.end()) return std::nullopt;
    return it->second;
}

std::optional<long> ParsedArgs::Number(const std::string& name, long min, long max) const {
    const auto text = Value(name);
    if (!text) return std::nullopt;
    long value = 0;
    const char* end = text->data() + text->size();
    const auto [ptr, ec] = std::from_chars(text->data(), end, value);
    if (text->empty() || ec != std::errc() || ptr != end || value < min || value > max)
        throw EUsageError("--" + name + " takes a whole number from " + std::to_string(min) + " to " +
                          std::to_string(max) + ", not \"" + *text + "\"");
    return value;
}

ParsedArgs ParseArgs(const std::vector<std::string>& words, const std::vector<OptionSpec>& specs,
                     std::size_t minPositional, std::size_t maxPositional) {
    ParsedArgs parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word == "-" || word.empty() || word[0] != '-') {
            parsed.Positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word.size() < 3 || word.compare(0, 2, "--") != 0) throw EUsageError("unknown option \"" + word + "\"");
        std::string name = word.substr(2);
        std::optional<std::string> value;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        const OptionSpec* known = Find(specs, name);
        if (!known) throw EUsageError("unknown option \"--" + name + "\"");
        if (!known->TakesValue) {
            if (value) throw EUsageError("--" + name + " takes no value");
            parsed.Switches.insert(name);
            continue;
        }
        if (!value) {
            if (i + 1 >= words.size()) throw EUsageError("--" + name + " needs a value");
            value = words[++i];
        }
        parsed.Values[name] = *value;
        parsed.InOrder.emplace_back(name, *value);
    }
    if (parsed.Positional.size() < minPositional || parsed.Positional.size() > maxPositional)
        throw EUsageError(parsed.Positional.size() < minPositional ? "too few arguments" : "too many arguments");
    return parsed;
}

bool AsksForHelp(const std::vector<std::string>& words) { return AsksFor(words, {"--help", "-h"}); }
bool AsksForVersion(const std::vector<std::string>& words) { return AsksFor(words, {"--version"}); }
