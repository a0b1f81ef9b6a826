#pragma once
// The one reading of command-line arguments every command shares, so `capture`, `cat` and `ports`
// follow the same rules: "--name value" and "--name=value" are the same, "-h" is "--help", "--"
// ends the options, "-" alone and anything not starting with "-" is an operand. Each command
// keeps its own table of names; this only walks the arguments.
#include <stdexcept>
#include <string>
#include <vector>

namespace linograf {

// A usage error: the message names the option and what is wrong with it.
class ECommandLineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TCommandLineReader {
  public:
    explicit TCommandLineReader(const std::vector<std::string>& arguments) : arguments_(arguments) {}

    // Steps to the next argument; false after the last.
    bool Next();
    // The current argument is an option (its Name starts with "-"), not an operand.
    bool IsOption() const { return is_option_; }
    // The option's name without an "=value" part, or the operand.
    const std::string& Name() const { return name_; }
    // The option's value: the part after "=", else the next argument (which is then consumed).
    // Raises "--x needs a value" when there is none.
    std::string Value();
    // For options that take no value: raises "--x takes no value" for "--x=...".
    void NoValue() const;
    // "unknown option \"--x\"" for the current argument.
    [[noreturn]] void Unknown() const;

  private:
    const std::vector<std::string>& arguments_;
    std::size_t next_ = 0;
    bool options_ended_ = false;
    bool is_option_ = false;
    bool has_inline_value_ = false;
    std::string name_;
    std::string inline_value_;
};

}  // namespace linograf
