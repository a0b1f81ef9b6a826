#pragma once
// The file name template of the live workbook log: the date and time constants "{dd}", "{mm}",
// "{yy}", "{yyyy}", "{hh}", "{nn}" and "{ss}" in it stand for parts of the current local time, so
// the name of the workbook rolls over by day, hour, minute or second.
#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "base/date_time.h"

namespace linograf {

// A reading of the local wall clock. The program reads the real one; tests give their own.
using TClock = std::function<TDateTime()>;

// The tokens in the order they are expanded.
inline constexpr std::array<std::string_view, 7> kFileTemplateTokens = {"dd", "mm", "yy", "yyyy",
                                                                        "hh", "nn", "ss"};

// The template (Windows-1251 text) with every token in braces replaced, without regard to letter
// case, by its part of the time. The clock is read once per token of the list, in list order, so
// a name may mix two instants when the clock moves on in between (a day from before midnight and
// an hour from after it): the names are formed as the Windows program forms them. Text in braces
// that is no token ("{hh:nn}") stays as it is.
std::string ExpandFileTemplate(std::string_view file_template, const TClock& clock = DateTimeNow);

}  // namespace linograf
