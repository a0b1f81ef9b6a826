#include "cli/command_line.h"

namespace linograf {

bool TCommandLineReader::Next() {
    while (next_ < arguments_.size()) {
        const std::string& argument = arguments_[next_++];
        has_inline_value_ = false;
        inline_value_.clear();
        if (!options_ended_ && argument == "--") {
            options_ended_ = true;
            continue;
        }
        is_option_ = !options_ended_ && argument.size() > 1 && argument[0] == '-';
        name_ = argument;
        if (is_option_ && name_ == "-h") name_ = "--help";
        if (is_option_ && name_.rfind("--", 0) == 0) {
            if (const auto eq = name_.find('='); eq != std::string::npos) {
                has_inline_value_ = true;
                inline_value_ = name_.substr(eq + 1);
                name_.resize(eq);
            }
        }
        return true;
    }
    return false;
}

std::string TCommandLineReader::Value() {
    if (has_inline_value_) return inline_value_;
    if (next_ == arguments_.size()) throw ECommandLineError(name_ + " needs a value");
    return arguments_[next_++];
}

void TCommandLineReader::NoValue() const {
    if (has_inline_value_) throw ECommandLineError(name_ + " takes no value");
}

void TCommandLineReader::Unknown() const {
    throw ECommandLineError("unknown option \"" + name_ + "\"");
}

}  // namespace linograf
